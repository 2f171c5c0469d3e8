// Case changes over GBK bytes: only ASCII letters that stand alone change.
#include "platform/codec.h"

#include <gtest/gtest.h>

#include <string>

namespace vorsa {
namespace {

TEST(CodecCase, OnlyAsciiLettersOutsideDoubleByteCharactersChange) {
    struct Case {
        const char* name;
        std::string in, upper, lower;
    } cases[] = {
        {"ascii", "Td <a HREF>", "TD <A HREF>", "td <a href>"},
        // 縣 is BF 68: its trail byte is an 'h'. 侶 is 82 48: its trail byte is an 'H'.
        {"trail byte h", "\xBF\x68xh", "\xBF\x68XH", "\xBF\x68xh"},
        {"trail byte H", "\x82\x48Xh", "\x82\x48XH", "\x82\x48xh"},
        {"mixed", gbk::text("縣侶 Hangzhou 杭州"), gbk::text("縣侶 HANGZHOU 杭州"),
         gbk::text("縣侶 hangzhou 杭州")},
        // A lead byte at the very end has no trail byte; the letter before it still changes.
        {"lone lead byte", "a\xBF", "A\xBF", "a\xBF"},
        {"empty", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(gbk::toUpperAscii(c.in), c.upper);
        EXPECT_EQ(gbk::toLowerAscii(c.in), c.lower);
    }
}

}  // namespace
}  // namespace vorsa
