#include "web/web_config.h"

#include "temp_trees.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace {

std::string write(const testsupport::TempDir& dir, const std::string& text) {
    std::ofstream(dir.file("tarvel-web.conf"), std::ios::binary) << text;
    return dir.file("tarvel-web.conf");
}

TEST(WebConfig, ReadsBothSectionsWithPathsBesideTheFile) {
    testsupport::TempDir dir;
    web::WebConfig c;
    std::string error;
    ASSERT_TRUE(web::readWebConfig(write(dir, "# Schule\r\n[Dienst]\r\nListen=127.0.0.1\nPort=8080  # Proxy\n"
                                              "Certificate=web.pem\nStateDir=/srv/tarvel\nLogins=\nsessionminutes=30\n"
                                              "TrustedProxy=127.0.0.1, ::1\n[Stunden]\n2=08:35-09:20\n1=07:45-08:30\nPausenpuffer=5\n"),
                                   c, error))
        << error;
    EXPECT_EQ(c.listen, "127.0.0.1");
    EXPECT_EQ(c.port, 8080);
    EXPECT_EQ(c.certificate, dir.file("web.pem"));
    EXPECT_EQ(c.stateDir, "/srv/tarvel");
    EXPECT_EQ(c.loginFile, "");
    EXPECT_EQ(c.sessionMinutes, 30);
    EXPECT_EQ(c.trustedProxies, (std::vector<std::string>{"127.0.0.1", "::1"}));
    ASSERT_EQ(c.lessons.lessons.size(), 2u);
    EXPECT_EQ(c.lessons.lessons[0].begin, 7 * 60 + 45);
    EXPECT_EQ(c.lessons.bufferMinutes, 5);
}

TEST(WebConfig, RefusesABadLineNamingIt) {
    const char* bad[] = {
        "Port=8443",                          // before any section
        "[Dienst]\nPrt=8443",                 // a typo
        "[Dienst]\nPort=0",
        "[Dienst]\nPort=70000",
        "[Dienst]\nPort=8443x",
        "[Dienst]\nListen=schule.example",
        "[Dienst]\nSessionMinutes=0",
        "[Dienst]\nTrustedProxy=127.0.0.1,proxy",
        "[Dienst]\nPort=1\nPort=2",
        "[Dienste]",
        "[Stunden]\nPausenpuffer=-1",
        "[Stunden]\n1=07:45",
        "[Stunden]\n1=08:30-07:45",
        "[Stunden]\n1=24:00-24:30",
        "[Stunden]\nerste=07:45-08:30",
        "[Stunden]\n1=07:45-08:30\n2=08:00-09:00",
        "[Stunden]\n1=07:45-08:30\n1=08:35-09:20",
    };
    testsupport::TempDir dir;
    for (const char* text : bad) {
        web::WebConfig c;
        std::string error;
        EXPECT_FALSE(web::readWebConfig(write(dir, std::string("# Kopf\n") + text + "\n# Ende\n"), c, error)) << text;
        const std::string line = std::to_string(2 + std::count(text, text + std::strlen(text), '\n'));
        EXPECT_NE(error.find(", Zeile " + line + ":"), std::string::npos) << text << " -> " << error;
    }
}

std::time_t today(int hour, int minute, int second = 0) {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    ::localtime_r(&now, &t);
    t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second, t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST(WebConfig, LessonEndIsTheRunningOrNextLessonsEndPlusTheBuffer) {
    const web::Lessons lessons{{{1, 7 * 60 + 45, 8 * 60 + 30}, {2, 8 * 60 + 35, 9 * 60 + 20}}, 5};
    struct Case {
        int hour, minute, second;
        int endHour, endMinute;  // -1: none left today
    } cases[] = {
        {6, 0, 0, 8, 35},    // before the first
        {7, 45, 0, 8, 35},   // in the first
        {8, 29, 59, 8, 35},
        {8, 30, 0, 9, 25},   // in the break: the next lesson's end
        {9, 0, 0, 9, 25},
        {9, 20, 0, -1, 0},   // after the last
        {23, 59, 0, -1, 0},
    };
    for (const Case& c : cases) {
        std::time_t until = 0;
        const bool found = web::lessonEnd(lessons, today(c.hour, c.minute, c.second), until);
        EXPECT_EQ(found, c.endHour >= 0) << c.hour << ":" << c.minute;
        EXPECT_EQ(until, c.endHour >= 0 ? today(c.endHour, c.endMinute) : 0) << c.hour << ":" << c.minute;
    }
}

}  // namespace
