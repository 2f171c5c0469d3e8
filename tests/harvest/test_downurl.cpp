#include "harvest/undownurl.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace vorsa {
namespace {

using Lines = std::vector<std::string>;

std::vector<std::string> rows(const Lines& lines) {
    std::vector<std::string> out;
    parseDownurlLines(lines, [&](const HarvestRow& r) {
        EXPECT_TRUE(r.Protocol.empty() && r.Location.empty());
        out.push_back(r.Ip + "|" + r.Port);
    });
    return out;
}

struct DownurlCase {
    const char* label;
    Lines lines;
    std::vector<std::string> rows;
};

class DownurlTest : public testing::TestWithParam<DownurlCase> {};

TEST_P(DownurlTest, Rows) {
    EXPECT_EQ(rows(GetParam().lines), GetParam().rows);
}

const DownurlCase kCases[] = {
    {"Plain", {"1.2.3.4:80"}, {"1.2.3.4|80"}},
    {"LeftmostFittingMatch", {"1.2.3.4.5:80"}, {"2.3.4.5|80"}},
    {"LongPortTakenWhole", {"10.0.0.1:12345678 x"}, {"10.0.0.1|12345678"}},
    {"SplitOverTwoLines", {"proxy 9.9.9.9:", "8080"}, {}},
    {"SplitAddress", {"9.9.", "9.9:80"}, {}},
    {"RepeatsKept",
     {"1.1.1.1:80 1.1.1.1:80", "<td>1.1.1.1:80</td>"},
     {"1.1.1.1|80", "1.1.1.1|80", "1.1.1.1|80"}},
    {"SearchGoesOnAfterMatch", {"1.2.3.4:5.6.7.8:9"}, {"1.2.3.4|5"}},
    {"AdjacentMatches", {"1.2.3.4:5x6.7.8.9:10"}, {"1.2.3.4|5", "6.7.8.9|10"}},
    {"HugeOctets", {"999.888.777.666:0"}, {"999.888.777.666|0"}},
    {"NoPort", {"1.2.3.4 : 80", "1.2.3.4"}, {}},
    // Full-width digits and GBK bytes are no ASCII digits.
    {"GbkAround", {"\xA3\xB1.2.3.4:80\xB6\xA5 5.6.7.8:81\xA3\xB1"}, {"5.6.7.8|81"}},
    {"Empty", {}, {}},
    {"EmptyLine", {""}, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, DownurlTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(Downurl, TenMegabyteLine) {
    std::string line;
    line.reserve(10 << 20);
    while (line.size() < (10u << 20))
        line += "12.34.56.78:3128 <td>\xB6\xA5 ";
    line += "1.2.3.";  // truncated last address
    const auto found = rows({line});
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front(), "12.34.56.78|3128");
    EXPECT_EQ(found.size(),
              (line.size() - 6) / std::string("12.34.56.78:3128 <td>\xB6\xA5 ").size());
}

TEST(Downurl, WorkersParseAtTheSameTime) {
    // Several custom-URL workers parse their pages at once.
    Lines page;
    for (int i = 0; i < 2000; ++i)
        page.push_back("<p>10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ":" +
                       std::to_string(1000 + i) + " \xB6\xA5</p>");
    const std::vector<std::string> want = rows(page);
    ASSERT_EQ(want.size(), 2000u);
    std::vector<std::vector<std::string>> got(6);
    std::vector<std::thread> threads;
    for (auto& out : got)
        threads.emplace_back([&page, &out] {
            for (int round = 0; round < 5; ++round) {
                out.clear();
                parseDownurlLines(
                    page, [&out](const HarvestRow& r) { out.push_back(r.Ip + "|" + r.Port); });
            }
        });
    for (auto& t : threads)
        t.join();
    for (const auto& out : got)
        EXPECT_EQ(out, want);
}

TEST(Downurl, BinaryGarbage) {
    std::string junk(2 << 20, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<char>((i * 2654435761u) >> 24);
    for (const auto& r : rows({junk, junk})) {
        EXPECT_NE(r.find('|'), std::string::npos);
    }
}

}  // namespace
}  // namespace vorsa
