#include "harvest/ufun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorsa {
namespace {

struct GetTagCase {
    const char* label;
    std::string text;
    const char* name;
    std::vector<std::string> values;  // one GetTag call per entry
    std::string rest;                 // the text after the last call
};

class GetTagTest : public testing::TestWithParam<GetTagCase> {};

TEST_P(GetTagTest, ReadsElementsInOrder) {
    const GetTagCase& c = GetParam();
    std::string text = c.text;
    for (const std::string& expected : c.values)
        EXPECT_EQ(GetTag(text, c.name), expected);
    EXPECT_EQ(text, c.rest);
}

const GetTagCase kGetTagCases[] = {
    {"TwoCells", "<td>1.2.3.4</td><td>HTTP</td>", "td", {"1.2.3.4", "HTTP", ""}, ""},
    {"IdenticalCopiesGoTogether", "<td>80</td><td>80</td><td>x</td>", "td", {"80", "x"}, ""},
    {"NameMissing", "<tr><th>a</th></tr>", "td", {""}, "<tr><th>a</th></tr>"},
    {"CaseSensitive", "<TD>a</TD>", "td", {""}, "<TD>a</TD>"},
    {"ClosingBeforeOpening", "</td><td>a", "td", {""}, "</td><td>a"},
    {"NoClosingTag", "<td>a", "td", {""}, "<td>a"},
    {"Attributes", "<td class=\"x\">9</td> tail", "td", {"9"}, " tail"},
    // The element runs through where '>' of "</name>" would stand, whatever is there.
    {"ClosingTagWithSpace", "<td>a</td >b", "td", {"a"}, ">b"},
    {"TextEndsInsideClosingTag", "x<td>a</td", "td", {"a"}, "x"},
    {"NoGreaterThanBeforeClose", "<td</td>", "td", {""}, ""},
    {"NestedSameName", "<td><td>a</td></td>", "td", {"<td>a"}, "</td>"},
    {"ScriptThenCells",
     "<td><SCRIPT>p(\":\"+r+d)</SCRIPT>1.1.1.1</td><td>HTTP</td>",
     "SCRIPT",
     {"p(\":\"+r+d)"},
     "<td>1.1.1.1</td><td>HTTP</td>"},
    {"EmptyText", "", "td", {""}, ""},
    // GBK bytes pass through untouched.
    {"GbkBytes", "<td>\xB1\xB1\xBE\xA9</td>", "td", {"\xB1\xB1\xBE\xA9"}, ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, GetTagTest, testing::ValuesIn(kGetTagCases),
                         [](const auto& info) { return std::string(info.param.label); });

struct ReplaceCase {
    const char* text;
    const char* oldText;
    const char* newText;
    const char* result;
};

TEST(ReplaceAll, Cases) {
    const ReplaceCase cases[] = {
        {"+c+w+r+d", "+r", "8", "+c+w8+d"},
        {"aaa", "a", "aa", "aaaaaa"},  // inserted text is not looked at again
        {"aaaa", "aa", "a", "aa"},     // left to right, no overlap
        {"abcABC", "abc", "x", "xABC"},
        {"abc", "", "x", "abc"},
        {"", "a", "b", ""},
        {"5749", "49", "0", "570"},
        {"no match", "zz", "y", "no match"},
    };
    for (const ReplaceCase& c : cases)
        EXPECT_EQ(ReplaceAll(c.text, c.oldText, c.newText), c.result)
            << c.text << " / " << c.oldText;
}

TEST(ReplaceAll, LargeTextIsLinear) {
    std::string text(4 << 20, 'a');
    EXPECT_EQ(ReplaceAll(text, "a", "").size(), 0u);
    EXPECT_EQ(ReplaceAll(text, "aa", "b"), std::string(2 << 20, 'b'));
}

}  // namespace
}  // namespace vorsa
