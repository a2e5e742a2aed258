#include "web/page.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>

namespace {

using namespace web;

// A tag as the browser reads it, with the text up to its closing tag (nesting ignored).
struct Tag {
    std::string name;
    std::map<std::string, std::string> attrs;
    std::string text;
    std::string attr(const std::string& key) const {
        auto found = attrs.find(key);
        return found == attrs.end() ? std::string() : found->second;
    }
};

std::vector<Tag> scan(const std::string& html) {
    std::vector<Tag> tags;
    for (size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
        if (html[at + 1] == '!' || html[at + 1] == '/') continue;
        Tag tag;
        size_t i = at + 1;
        while (i < html.size() && std::isalnum(static_cast<unsigned char>(html[i])))
            tag.name += static_cast<char>(std::tolower(html[i++]));
        while (i < html.size() && html[i] != '>') {
            while (html[i] == ' ' || html[i] == '/') ++i;
            std::string key;
            while (i < html.size() && !std::strchr(" =>/", html[i])) key += static_cast<char>(std::tolower(html[i++]));
            std::string value;
            if (html[i] == '=') {
                char quote = html[++i];
                size_t end = (quote == '"' || quote == '\'') ? html.find(quote, ++i) : html.find_first_of(" >", i);
                if (end == std::string::npos) break;
                value = html.substr(i, end - i);
                i = end + ((quote == '"' || quote == '\'') ? 1 : 0);
            }
            if (!key.empty()) tag.attrs[key] = value;
        }
        size_t close = html.find("</" + tag.name + ">", i);
        if (close != std::string::npos) tag.text = html.substr(i + 1, close - i - 1);
        tags.push_back(tag);
    }
    return tags;
}

const std::set<std::string> pageTags = {
    "html", "head", "meta", "title", "link", "script", "body", "header", "p", "a", "strong", "form", "input", "button",
    "main", "h1", "h2", "h3", "section", "ul", "li", "label", "span", "nav", "div", "details", "summary", "progress"};

// What every page must keep, whatever the directory or the user put into it.
void expectSoundPage(const std::string& html, const std::string& hostile, const std::string& token) {
    EXPECT_EQ(html.find(hostile), std::string::npos) << "raw: " << hostile;
    EXPECT_NE(html.find(page::escape(hostile)), std::string::npos) << "not shown: " << hostile;
    EXPECT_NE(html.find("<html lang=\"de\">"), std::string::npos);
    std::vector<Tag> tags = scan(html);
    std::set<std::string> labelled;
    for (const Tag& tag : tags)
        if (tag.name == "label") labelled.insert(tag.attr("for"));
    bool inPostForm = false, tokenSeen = false;
    for (const Tag& tag : tags) {
        SCOPED_TRACE("<" + tag.name + ">");
        EXPECT_TRUE(pageTags.count(tag.name));
        for (const auto& [key, value] : tag.attrs) {
            EXPECT_FALSE(key == "style" || key.rfind("on", 0) == 0) << key;
            if (key == "href") {
                EXPECT_EQ(value.rfind("/", 0), 0u) << value;
                EXPECT_EQ(
                    value.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789%-._~/?="),
                    std::string::npos)
                    << value;
            }
        }
        if (tag.name == "script") {
            EXPECT_TRUE(tag.text.empty() && tag.attrs.count("src"));
        }
        if (tag.name == "button") {
            EXPECT_TRUE(!tag.text.empty() || tag.attrs.count("aria-label"));
        }
        if (tag.name == "input" && tag.attr("type") != "hidden") {
            EXPECT_TRUE(labelled.count(tag.attr("id")) || tag.attrs.count("aria-label")) << tag.attr("name");
        }
        if (tag.name == "form") {
            EXPECT_FALSE(inPostForm && !tokenSeen);
            inPostForm = tag.attr("method") == "post" && tag.attr("action") != "/anmelden";
            tokenSeen = false;
        }
        if (tag.name == "input" && tag.attr("name") == "token")
            tokenSeen = tag.attr("type") == "hidden" && tag.attr("value") == token;
    }
    EXPECT_FALSE(inPostForm && !tokenSeen);
}

const char* const hostileNames[] = {
    "<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>", "Tom & Jerry's \"Klasse\"",
    "javascript:alert('x')",     "' onmouseover='alert(1)",
};

TEST(Page, HostileNamesAreEscapedInEveryViewAndTheCspHolds) {
    const std::string token = "a1b2c3";
    std::time_t now = 1780000000;
    for (const char* name : hostileNames) {
        SCOPED_TRACE(name);
        page::Frame frame{name, token};
        std::vector<Box> boxes{{name, std::string("Zeile 1\r\n") + name}};
        ClassEntry cls{name, name};
        deny::Hold hold;
        hold.holder = name;
        hold.until = now + 600;
        std::vector<page::PupilView> pupils{{PupilEntry{name, name, name, true}, {hold}},
                                            {PupilEntry{"frei.5a.schule", "frei", "frei", false}, {}}};
        page::JobView running{7, true, 3, 10, false, "", {}, name};
        page::JobView done{7, false, 10, 10, false, name, {name, "Zeile 2"}, name};
        const std::pair<const char*, std::string> views[] = {
            {"login", page::loginPage(name, name)},
            {"classes", page::classesPage(frame, {cls}, boxes)},
            {"class", page::classPage(frame, cls, pupils, now + 900, now, boxes)},
            {"class, no lesson", page::classPage(frame, cls, pupils, 0, now, boxes)},
            {"job running", page::jobPage(frame, running)},
            {"job done", page::jobPage(frame, done)},
            {"error", page::errorPage(frame, name, {name})},
        };
        for (const auto& [view, html] : views) {
            SCOPED_TRACE(view);
            expectSoundPage(html, name, token);
        }
    }
}

TEST(Page, ClassShowsStateHoldersEndsAndTheLessonButton) {
    std::tm tm{};
    tm.tm_year = 126, tm.tm_mon = 5, tm.tm_mday = 3, tm.tm_hour = 9, tm.tm_min = 50, tm.tm_isdst = -1;
    std::time_t now = std::mktime(&tm);
    deny::Hold lesson{1, "anna.5a.schule", "mueller.lehrer.schule", now, now + 1800, "T", "deny"};
    deny::Hold forGood{2, "anna.5a.schule", "schmidt.lehrer.schule", now, 0, "T", "deny"};
    std::vector<page::PupilView> pupils{{PupilEntry{"anna.5a.schule", "anna", "anna", true}, {lesson, forGood}},
                                        {PupilEntry{"ben.5a.schule", "ben", "ben", false}, {}}};
    struct Case {
        std::time_t lessonEnd;
        bool disabled;
        std::string hint;
    };
    for (const Case& c : {Case{now + 1800, false, "10:20"}, Case{0, true, "keine Stunde"}}) {
        std::string html =
            page::classPage({"mueller.lehrer.schule", "t"}, {"5a.schule", "5a"}, pupils, c.lessonEnd, now, {});
        EXPECT_NE(html.find("gesperrt von mueller.lehrer.schule bis 10:20"), std::string::npos);
        EXPECT_NE(html.find("gesperrt von schmidt.lehrer.schule bis auf Weiteres"), std::string::npos);
        EXPECT_NE(html.find("Internet: aus</p>\n<ul class=\"sperren\">"), std::string::npos);
        EXPECT_NE(html.find("<h3 id=\"s2\">ben</h3>\n<p class=\"zustand\">Internet: an"), std::string::npos);
        std::vector<Tag> tags = scan(html);
        size_t lessonButtons = 0;
        for (const Tag& tag : tags) {
            if (tag.name != "button" || tag.text != "Internet aus bis Stundenende") continue;
            ++lessonButtons;
            EXPECT_EQ(tag.attrs.count("disabled") == 1, c.disabled);
            std::string hintText;
            for (const Tag& other : tags)
                if (other.attrs.count("id") && other.attr("id") == tag.attr("aria-describedby")) hintText = other.text;
            EXPECT_NE(hintText.find(c.hint), std::string::npos) << hintText;
        }
        EXPECT_EQ(lessonButtons, 3u);                                                   // the class and each pupil
        EXPECT_NE(html.find("name=\"names\" value=\"5a.schule\""), std::string::npos);  // the class by its name
    }
}

TEST(Page, JobPageRefreshesWhileRunningThenShowsTheResultAndTheWayBack) {
    page::JobView running{7, true, 3, 10, false, "", {}, "5a.schule"};
    page::JobView done{
        7, false, 10, 10, true, "Tarvel Internet-Stop", {"10 von 10 Benutzern wurden geändert."}, "5a.schule"};
    std::string during = page::jobPage({"t", "x"}, running), after = page::jobPage({"t", "x"}, done);
    EXPECT_NE(during.find("<meta http-equiv=\"refresh\""), std::string::npos);
    EXPECT_NE(during.find("Auftrag 7: 3 von 10"), std::string::npos);
    EXPECT_EQ(after.find("http-equiv"), std::string::npos);
    EXPECT_NE(after.find("<p>10 von 10 Benutzern wurden geändert.</p>"), std::string::npos);
    EXPECT_NE(after.find("href=\"/klasse?name=5a.schule\""), std::string::npos);
}

}  // namespace
