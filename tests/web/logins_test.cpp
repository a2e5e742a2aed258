// The login file: yescrypt lines written atomically 0600, read only when nobody else may write it.
#include "temp_trees.h"
#include "web/logins.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

TEST(Logins, WrittenAsYescryptAndCheckedPerLogin) {
    testsupport::TempDir dir;
    const std::string file = dir.file("logins");
    std::string error, op;
    ASSERT_TRUE(web::writeLogin(file, "lehrer1", "lehrer1.LEHRER.UNTERRICHT", "alt", error)) << error;
    ASSERT_TRUE(web::writeLogin(file, "lehrer2", "lehrer2.LEHRER.UNTERRICHT", "zwei", error)) << error;
    ASSERT_TRUE(web::writeLogin(file, "lehrer1", "lehrer1.LEHRER.UNTERRICHT", "neu", error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = testsupport::readFile(file);
    EXPECT_EQ(text.find("neu"), std::string::npos);
    EXPECT_NE(text.find("lehrer1:lehrer1.LEHRER.UNTERRICHT:$y$"), std::string::npos) << text;

    const struct { const char* login; const char* password; web::LoginCheck check; const char* op; } cases[] = {
        {"lehrer1", "neu", web::LoginCheck::Ok, "lehrer1.LEHRER.UNTERRICHT"},
        {"lehrer1", "alt", web::LoginCheck::WrongPassword, ""},
        {"lehrer2", "zwei", web::LoginCheck::Ok, "lehrer2.LEHRER.UNTERRICHT"},
        {"lehrer2", "neu", web::LoginCheck::WrongPassword, ""},
        {"lehrer3", "neu", web::LoginCheck::Unknown, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(web::checkLogin(file, c.login, c.password, op, error), c.check) << c.login << " " << c.password;
        EXPECT_EQ(op, c.op) << c.login;
    }
}

TEST(Logins, AFileOthersMayChangeIsRefused) {
    testsupport::TempDir dir;
    const std::string file = dir.file("logins"), link = dir.file("link");
    std::string error, op;
    ASSERT_TRUE(web::writeLogin(file, "lehrer1", "lehrer1.LEHRER.UNTERRICHT", "pw", error)) << error;
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    EXPECT_EQ(web::checkLogin(link, "lehrer1", "pw", op, error), web::LoginCheck::FileError);
    EXPECT_FALSE(web::writeLogin(link, "lehrer2", "lehrer2.LEHRER.UNTERRICHT", "pw", error));
    for (mode_t mode : {0620, 0602}) {
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        EXPECT_EQ(web::checkLogin(file, "lehrer1", "pw", op, error), web::LoginCheck::FileError) << mode;
    }
}
