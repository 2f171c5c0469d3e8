#include "platform/text_lines.h"
#include "platform/user_sources.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vorsa {
namespace {

UserSources parse(const std::string& text) {
    UserSources s;
    parseSourceLines(text, s);
    return s;
}

TEST(UserSources, WhatCountsAsAUrl) {
    struct Case {
        const char* line;
        bool url;
    };
    const Case cases[] = {
        {"http://lists.example/http.txt", true},
        {"https://lists.example:8443/a?b=c#d", true},
        {"HTTP://LISTS.EXAMPLE/X", true},
        {"http://127.0.0.1:8790/http.txt", true},
        {"ftp://lists.example/x", false},
        {"file:///etc/passwd", false},
        {"lists.example/http.txt", false},
        {"http://", false},
        {"http:///path", false},
        {"http://lists.example/a b.txt", false},  // a URL with a space inside
        {"http://lists.example/a\tb", false},
        {"http://lists.example/\x7f", false},
        {"-o /tmp/x http://lists.example/", false},
        {"javascript:alert(1)", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isSourceUrl(c.line), c.url) << c.line;
    EXPECT_TRUE(isSourceUrl("http://h/" + std::string(kMaxSourceUrlBytes - 9, 'a')));
    EXPECT_FALSE(isSourceUrl("http://h/" + std::string(kMaxSourceUrlBytes - 8, 'a')));
}

TEST(UserSources, CommentsBlankLinesAndJunk) {
    const UserSources s = parse(
        "\xEF\xBB\xBF# my lists\r\n"
        "\r\n"
        "   \t\n"
        "  http://a.example/http.txt  \n"
        "# http://commented.example/out\n"
        "not a url\n"
        "http://b.example/has space.txt\n"
        "\xc4\xe3\xba\xc3\n"  // GBK text
        "https://c.example/socks.txt\r"
        "http://a.example/http.txt");  // repeated, last line without a line end
    EXPECT_EQ(s.urls,
              (std::vector<std::string>{"http://a.example/http.txt", "https://c.example/socks.txt",
                                        "http://a.example/http.txt"}));
    EXPECT_EQ(s.skipped, 3);
    EXPECT_FALSE(s.tooLarge);

    const UserSources none = parse("");
    EXPECT_TRUE(none.urls.empty());
    EXPECT_EQ(none.skipped, 0);
    // NUL bytes and other binary garbage are junk lines, not a crash.
    static const char kBinary[] = "\0\x01\xff\xfe\n\x80http://x.example/\n";
    const UserSources binary = parse(std::string(kBinary, sizeof kBinary - 1));
    EXPECT_TRUE(binary.urls.empty());
    EXPECT_EQ(binary.skipped, 2);
}

TEST(UserSources, TenThousandLinesAndTheUrlCap) {
    std::string text;
    for (int i = 0; i < 10000; ++i)
        text += "http://list" + std::to_string(i) + ".example/p.txt\n";
    const UserSources s = parse(text);
    ASSERT_EQ(s.urls.size(), 10000u);
    EXPECT_EQ(s.urls.back(), "http://list9999.example/p.txt");
    EXPECT_EQ(s.skipped, 0);

    std::string many;
    for (std::size_t i = 0; i < kMaxSourcesUrls + 5; ++i)
        many += "http://h/\n";
    const UserSources capped = parse(many);
    EXPECT_EQ(capped.urls.size(), kMaxSourcesUrls);
    EXPECT_EQ(capped.skipped, 5);
}

class UserSourcesFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vorsa-sources-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        ::setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string file() const { return m_dir + "/VORSASOFT/sources.txt"; }
    std::string m_dir;
};

TEST_F(UserSourcesFile, LoadsTheConfigFolderFile) {
    EXPECT_TRUE(loadUserSources().urls.empty());  // no file: nothing, no note
    replaceFileBytes(file(), "# lists\nhttp://a.example/x.txt\njunk\n");
    const UserSources s = loadUserSources();
    EXPECT_EQ(s.urls, std::vector<std::string>{"http://a.example/x.txt"});
    EXPECT_EQ(s.skipped, 1);
    EXPECT_FALSE(s.tooLarge);
}

TEST_F(UserSourcesFile, AnOversizedFileOrAFolderIsNotRead) {
    std::string big = "http://a.example/x.txt\n";
    big.resize(kMaxSourcesFileBytes + 1, '#');
    replaceFileBytes(file(), big);
    const UserSources s = loadUserSources();
    EXPECT_TRUE(s.urls.empty());
    EXPECT_TRUE(s.tooLarge);

    std::filesystem::remove(file());
    std::filesystem::create_directory(file());
    const UserSources dir = loadUserSources();
    EXPECT_TRUE(dir.urls.empty());
    EXPECT_FALSE(dir.tooLarge);
}

}  // namespace
}  // namespace vorsa
