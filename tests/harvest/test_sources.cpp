// The seven list-source parsers and their port decoders, over small pages.
#include "harvest/ugethaozs.h"
#include "harvest/unantipalivo.h"
#include "harvest/uncnp.h"
#include "harvest/unplist.h"
#include "harvest/unpnet.h"
#include "harvest/unros.h"
#include "harvest/uproxycn.h"

#include "fixtures.h"
#include "platform/codec.h"
#include "platform/text_lines.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace vorsa {

bool operator==(const HarvestRow& a, const HarvestRow& b) {
    return a.Ip == b.Ip && a.Port == b.Port && a.Protocol == b.Protocol && a.Location == b.Location;
}

void PrintTo(const HarvestRow& r, std::ostream* os) {
    *os << "{" << r.Ip << " | " << r.Port << " | " << r.Protocol << " | " << r.Location << "}";
}

namespace {

using Lines = std::vector<std::string>;
using Rows = std::vector<HarvestRow>;
using Parser = void (*)(const Lines&, const RowSink&);

Rows parse(Parser parser, const Lines& lines) {
    Rows rows;
    parser(lines, [&rows](const HarvestRow& row) { rows.push_back(row); });
    return rows;
}

Lines fixture(const char* name) {
    std::string bytes;
    EXPECT_TRUE(readFileBytes(std::string(VORSA_FIXTURES_DIR) + "/harvest/" + name, bytes)) << name;
    return splitLines(bytes);
}

HarvestRow ipPort(std::string ip, std::string port) {
    return HarvestRow{std::move(ip), std::move(port), {}, {}};
}

Lines repeated(const std::string& line, int n) {
    return Lines(static_cast<std::size_t>(n), line);
}

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Case {
    const char* name;
    Lines lines;
    Rows rows;
};

void expectCases(Parser parser, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parse(parser, c.lines), c.rows);
    }
}

// ---- cnp ----------------------------------------------------------------------------------

const std::string kCnpHeader =
    "<tr><td width=\"140\">IP:Port</td><td width=\"40\">Type</td><td width=\"90\">Speed</td>"
    "<td width=\"160\"> Country/Area</td></tr>";

std::string cnpRow(const std::string& ip, const std::string& codes, const std::string& loc) {
    return "<tr><td>" + ip + "<SCRIPT type=text/javascript>document.write(\":\"" + codes +
           ")</SCRIPT></td><td>HTTP</td><td>1.5</td><td>" + loc + "</td></tr>";
}

TEST(DecodeCnpPort, LetterCodesAfterTheQuotedColon) {
    struct {
        const char* script;
        int port;
    } cases[] = {
        {"document.write(\":\"+r+d)", 80},
        {"document.write(\":\"+c+w+r+d)", 1680},
        {"document.write(\":\"+z+i+m+k+l+b)", 374295},  // no range check on the number
        {"document.write(\":\"+r+d+r+d)", 8080},
        // The last character of the text is dropped, whatever it is.
        {"document.write(\":\"+r+d", 8},
        {"document.write(\":\"+c+w))", 80},  // "16)" is no number
        {"document.write(\":\"+x)", 80},
        {"document.write(\":\")", 80},  // empty port text
        {"x\":\"", 80},                 // the quoted colon ends the text
        {"\":\"", 80},
        {"document.write(':'+r+d)", 80},  // no quoted colon
        {"", 80},
        {"document.write(\":\"+c+c+c+c+c+c+c+c+c+c+c)", 80},  // beyond 32 bits
        {"a\":\"+k+k)b\":\"+r)", 80},  // the first quoted colon counts: "22)b\":\"8" is no number
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        EXPECT_EQ(DecodeCnpPort(c.script), c.port);
    }
}

TEST(CnpParser, ListPage) {
    const Rows expected = {
        {"61.172.249.94", "80", "HTTP", gbk::text("上海市 电信")},
        {"218.6.12.166", "1680", "HTTP", gbk::text("四川省成都市")},
        {"202.98.23.114", "3742", "ANM", gbk::text("吉林省")},
    };
    EXPECT_EQ(parse(parseCnpLines, fixture("cnp_list.html")), expected);
    // A header with one trailing space is not the header.
    EXPECT_EQ(parse(parseCnpLines, fixture("cnp_header_space.html")), Rows{});
}

TEST(CnpParser, HeaderAndRowBounds) {
    const std::string row = cnpRow("1.2.3.4", "+r+d", "A");
    const HarvestRow parsed{"1.2.3.4", "80", "HTTP", "A"};
    expectCases(
        parseCnpLines,
        {
            {"no lines", {}, {}},
            {"one line", {kCnpHeader}, {}},
            {"header on line 0 is never seen", {kCnpHeader, row, row, "x"}, {}},
            {"header on the last line", {"x", row, kCnpHeader}, {}},
            {"header right before the last line", {"x", kCnpHeader, row}, {}},
            {"last line is never a row", {"x", kCnpHeader, row, row}, {parsed}},
            {"table end stops", {"x", kCnpHeader, row, "</table>", row, "y"}, {parsed}},
            {"indented table end is a row",
             {"x", kCnpHeader, " </table>", "y"},
             {{"", "80", "", ""}}},
            {"line after the header is always a row",
             {"x", kCnpHeader, "<tr><th>not a proxy</th></tr>", row, "y"},
             {{"", "80", "", ""}, parsed}},
            {"missing script and cells",
             {"x", kCnpHeader, "<tr><td>5.6.7.8</td></tr>", "y"},
             {{"5.6.7.8", "80", "", ""}}},
            {"script without its closing tag",
             {"x", kCnpHeader,
              "<tr><td>5.6.7.8<SCRIPT>document.write(\":\"+r+d)</td><td>HTTP</td></tr>", "y"},
             {{"5.6.7.8<SCRIPT>document.write(\":\"+r+d)", "80", "HTTP", ""}}},
            {"second header is a row",
             {"x", kCnpHeader, kCnpHeader, "y"},
             {{"IP:Port", "80", "Type", " Country/Area"}}},
        });
}

TEST(CnpParser, EqualCellsVanishTogether) {
    // GetTag removes every copy of the cell it read, so the next read skips the twin.
    const std::string row =
        "<tr><td>1.1.1.1<SCRIPT>document.write(\":\"+r)</SCRIPT></td><td>HTTP</td>"
        "<td>HTTP</td><td>Loc</td></tr>";
    EXPECT_EQ(parse(parseCnpLines, {"x", kCnpHeader, row, "y"}),
              (Rows{{"1.1.1.1", "8", "HTTP", ""}}));
}

// ---- proxycn ------------------------------------------------------------------------------

const std::string kPcnMarker = "<TR align=\"center\" bgcolor=\"#fbfbfb\" onDblClick=\"clip(";

std::string pcnRow(const std::string& address, const std::string& lead = "") {
    return lead + kPcnMarker + "\"" + address + "\");alert('ok');\"><TD>" + address + "</TD></TR>";
}

TEST(ProxycnParser, ListPage) {
    // Row 2 starts with a space: its text keeps the quote in front of the address.
    const Rows expected = {ipPort("221.130.7.83", "80"), ipPort("\"58.20.41.172", "8080"),
                           ipPort("125.76.226.5", "3128")};
    EXPECT_EQ(parse(parseProxycnLines, fixture("proxycn_list.html")), expected);
}

TEST(ProxycnParser, FixedStartAndEnd) {
    expectCases(
        parseProxycnLines,
        {
            {"no lines", {}, {}},
            {"last two lines never examined", {pcnRow("1.1.1.1:1"), pcnRow("2.2.2.2:2")}, {}},
            {"first of three lines", {pcnRow("1.1.1.1:1"), "", ""}, {ipPort("1.1.1.1", "1")}},
            {"marker further in: start stays at 56",
             {"xx" + pcnRow("1.1.1.1:1"), "", ""},
             {ipPort("(\"1.1.1.1", "1")}},
            {"port keeps later colons",
             {pcnRow("1.1.1.1:80:x"), "", ""},
             {ipPort("1.1.1.1", "80:x")}},
            {"no colon: all address", {pcnRow("localhost"), "", ""}, {ipPort("localhost", "")}},
            {"no alert call: empty row",
             {kPcnMarker + "\"1.1.1.1:80\")", "", ""},
             {ipPort("", "")}},
            {"alert call inside the marker's reach",
             {kPcnMarker + ");alert(\"1.1.1.1:80\");alert(", "", ""},
             {ipPort("", "")}},
            {"alert call before the marker",
             {");alert(" + pcnRow("1.1.1.1:80"), "", ""},
             {ipPort("", "")}},
            {"bare marker", {kPcnMarker, "", ""}, {ipPort("", "")}},
            {"empty address", {kPcnMarker + "\"\");alert(", "", ""}, {ipPort("", "")}},
            {"lower-case marker is no row", {gbk::toLowerAscii(pcnRow("1.1.1.1:1")), "", ""}, {}},
        });
}

// ---- haozs --------------------------------------------------------------------------------

Lines haozsRow(const std::string& ip, const std::string& port, const std::string& loc) {
    return {"<td>" + ip + "</td>", "<td>" + port + "</td>", "<td>" + loc + "</td>", "<td>x</td>",
            "</tr>"};
}

TEST(HaozsParser, ArticlePage) {
    const Rows expected = {
        {"121.11.87.171", "80", "", gbk::text("广东省 DIANXIN")},
        {"61.135.208.184", "8080", "", gbk::text("北京市 UNICOM")},
        {"219.137.229.214", "3128", "", gbk::text("广州市")},
    };
    EXPECT_EQ(parse(parseHaozsLines, fixture("haozs_article.html")), expected);
}

TEST(HaozsParser, HeaderSearchAndRowSteps) {
    const std::string header = "<TR bgColor=#ffffff><td>IP</td>";
    const Lines rowA = haozsRow("1.1.1.1", "81", "a");
    const Lines rowB = haozsRow("2.2.2.2", "82", "b");
    const HarvestRow a{"1.1.1.1", "81", "", "A"};
    const HarvestRow b{"2.2.2.2", "82", "", "B"};
    const Lines tail = repeated("<p>", 15);
    expectCases(
        parseHaozsLines,
        {
            {"no lines", {}, {}},
            {"one line", {"<td>1</td>"}, {}},
            {"short page: from line 1, one row only",
             Lines{"<p>"} + rowA + rowB + Lines{"<p>"},
             {a}},
            {"short page, header ignored", Lines{header} + Lines{"<p>"} + rowA + Lines{"<p>"}, {}},
            {"short page cut inside the row", {"<p>", "<td>1.1.1.1</td>", "<td>81</td>"}, {}},
            {"header found, rows until a line without TD",
             Lines{"<p>", header} + rowA + Lines{"<tr>"} + rowB + Lines{"</table>"} + tail,
             {a, b}},
            {"rows five lines apart without a <tr> line",
             Lines{header} + rowA + rowB + Lines{"</table>"} + tail,
             {a, b}},
            {"no header: from line count minus 18",
             repeated("<td>no</td>", 2) + repeated("<p>", 17) + rowA + repeated("<p>", 13),
             {a}},
            {"td in any case counts",
             Lines{header, "<Td>1.1.1.1</tD>", "<td>81</td>", "<tD>a</Td>", "", ""} + tail,
             {a}},
            {"loop ends when r passes line count minus 15",
             Lines{header} + rowA + rowB + repeated("<p>", 9),
             {a}},
        });
}

TEST(HaozsParser, UpperCasedCellsKeepChineseBytes) {
    const std::string loc = gbk::text("浙江省 hangzhou");
    const Lines lines = Lines{"<p>"} + haozsRow("abc", "8O", loc) + Lines{"<p>"};
    EXPECT_EQ(parse(parseHaozsLines, lines),
              (Rows{{"ABC", "8O", "", gbk::text("浙江省 HANGZHOU")}}));
    // 縣 is BF 68, whose trail byte is an 'h': it stays BF 68.
    const Lines county = Lines{"<p>"} + haozsRow("a", "80", gbk::text("縣 xian")) + Lines{"<p>"};
    EXPECT_EQ(parse(parseHaozsLines, county), (Rows{{"A", "80", "", gbk::text("縣 XIAN")}}));
}

// ---- proxynet -----------------------------------------------------------------------------

const std::string kNetMarker = "<div class=\"content\"><table id=\"proxy-list\" width=\"100%\">";

Lines netRow(const std::string& ip, const std::string& port, const std::string& type,
             const std::string& loc) {
    return {"<td>" + ip + "</td>",
            "<td>" + port + "</td>",
            "<td>" + type + "</td>",
            "<td>" + loc + "</td>",
            "<td>1</td>",
            "</tr>",
            "<tr>"};
}

TEST(ProxynetParser, ListPage) {
    const Rows expected = {
        {"200.65.129.1", "3128", "HTTP", "MEXICO"},
        {"189.47.193.22", "80", "ANONYMOUS", "BRASIL SAO PAULO"},
        {"201.12.1.9", "8080", "HTTP", "CHILE"},
    };
    EXPECT_EQ(parse(parseProxynetLines, fixture("proxynet_list.html")), expected);
}

TEST(ProxynetParser, StartAndEnd) {
    const Lines head = Lines{"<html>", kNetMarker} + repeated("<th>", 8);
    const Lines row = netRow("1.1.1.1", "80", "http", "Peru");
    const HarvestRow parsed{"1.1.1.1", "80", "HTTP", "PERU"};
    expectCases(
        parseProxynetLines,
        {
            {"no lines", {}, {}},
            {"no marker", repeated("<td>1</td>", 30), {}},
            {"marker on the last line", Lines{"<p>", kNetMarker}, {}},
            {"two rows, then the end", head + row + row + repeated("", 8), {parsed, parsed}},
            {"a row must start below line count minus 8",
             head + row + row + repeated("", 1),
             {parsed}},
            {"trimmed table end", head + Lines{"\t </table>\r "} + row + repeated("", 8), {}},
            {"double-byte characters keep their trail bytes",
             head + netRow("1.1.1.1", "80", "http", gbk::text("縣 lima")) + repeated("", 8),
             {{"1.1.1.1", "80", "HTTP", gbk::text("縣 LIMA")}}},
            {"table end with text is a row",
             head + Lines{"</table><td>x</td>"} + repeated("", 14),
             {{"X", "", "", ""}}},
        });
}

// ---- ros ----------------------------------------------------------------------------------

TEST(RosParser, Feeds) {
    EXPECT_EQ(parse(parseRosLines, fixture("ros_feed.xml")),
              (Rows{ipPort("81.95.128.22", "3128"), ipPort("200.174.85.195", "8080"),
                    ipPort("host-no-port", "")}));
    // "</image>" must be the whole line: with leading spaces the feed gives nothing.
    EXPECT_EQ(parse(parseRosLines, fixture("ros_indented.xml")), Rows{});
}

TEST(RosParser, StartAndBounds) {
    const std::string item = "<item><title>1.1.1.1:8</title></item>";
    expectCases(
        parseRosLines,
        {
            {"no lines", {}, {}},
            {"one line", {"</image>"}, {}},
            {"image end on the second-last line", {"x", "</image>", item}, {}},
            {"image end on the first line", {"</image>", item, "", ""}, {ipPort("1.1.1.1", "8")}},
            {"items before the image end are skipped",
             {item, "</image>", item, "", ""},
             {ipPort("1.1.1.1", "8")}},
            {"closing title without opening",
             {"</image>", "1.1.1.1:8</title>", "", ""},
             {ipPort("", "")}},
            {"title split at the first colon",
             {"</image>", "<title>[::1]:80</title>", "", ""},
             {ipPort("[", ":1]:80")}},
        });
}

// ---- proxylists ---------------------------------------------------------------------------

TEST(ProxylistsParser, EveryLineWithAColon) {
    EXPECT_EQ(parse(parseProxylistsLines, fixture("proxylists.txt")),
              (Rows{ipPort("1.2.3.4", "8080"), ipPort("5.6.7.8", "80:extra"),
                    ipPort("10.0.0.1", "3128")}));
    expectCases(parseProxylistsLines,
                {
                    {"no lines", {}, {}},
                    {"only a colon", {":"}, {ipPort("", "")}},
                    {"last line counts", {"x", "1.1.1.1:1"}, {ipPort("1.1.1.1", "1")}},
                    {"spaces are kept", {" 1.1.1.1 : 1 "}, {ipPort(" 1.1.1.1 ", " 1 ")}},
                });
}

// ---- antipalivo ---------------------------------------------------------------------------

const std::string kAntiHeader = "<td align=\"center\" colspan=\"5\">HTTP</td></tr>";

std::string antiRow(const std::string& ip, const std::string& codes) {
    return "<tr><td>" + ip + "</td><td><script>decode(\"" + codes + "\");</script></td></tr>";
}

TEST(DecodeAntiPort, CharacterCodes) {
    struct {
        const char* line;
        const char* port;
    } cases[] = {
        {"<td>decode(\"57,49\");</script>", "80"},
        {"decode(\"57,49,57,49\");</script>", "8080"},
        {"decode(\"50,51,52,53,54\");</script>", "12345"},
        {"decode(\"58,55,56\");</script>", "967"},
        {"decode(\"\");</script>", ""},
        {"decode(\"abc\");</script>", "abc"},              // not checked for being a number
        {"decode(\"57,49\")", ""},                         // no closing marker
        {"decode(57,49\");</script>", ""},                 // no opening marker
        {"\");</script>decode(\"57,49\");</script>", ""},  // closing marker first
        {"decode(\");</script>", ""},                      // the two overlap
        {"decode(\"50\");</script>decode(\"51\");</script>", "1"},
        {"DECODE(\"57,49\");</SCRIPT>", ""},  // exact case: the row line is lower-cased first
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(DecodeAntiPort(c.line), c.port);
    }
}

TEST(DecodeAntiPort, AddressPattern) {
    struct {
        std::string line;
        std::string address;
    } cases[] = {
        {"<td>1.2.3.4</td>", "1.2.3.4"},
        {"1.2.3.4.5:80", "1.2.3.4"},
        {"v1.2.3 and 10.20.30.40", "10.20.30.40"},
        {"123456789.1.1.1", "123456789.1.1.1"},
        {"1.2.3.", ""},
        {"1..2.3.4", ""},                             // only three runs after the double dot
        {"\xA3\xB1.\xA3\xB2.\xA3\xB3.\xA3\xB4", ""},  // full-width digits in GBK
        {"\xD9\xA1.\xD9\xA2.\xD9\xA3.\xD9\xA4", ""},  // Arabic-Indic digits in UTF-8
        {gbk::text("地址") + "9.8.7.6" + gbk::text("端口"), "9.8.7.6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(findDottedAddress(c.line), c.address);
    }
}

TEST(AntipalivoParser, WindowAndStop) {
    const Lines tail = repeated("<p>footer</p>", 210);
    const Lines head = {"<html>", "<table>", kAntiHeader, "<tr><td>Address</td></tr>"};
    const std::string rowA = antiRow("1.2.3.4", "57,49");
    const std::string rowB = antiRow("5.6.7.8", "57,49,57,49");
    const HarvestRow a = ipPort("1.2.3.4", "80");
    const HarvestRow b = ipPort("5.6.7.8", "8080");
    expectCases(
        parseAntipalivoLines,
        {
            {"no lines", {}, {}},
            {"two rows", head + Lines{rowA, rowB} + tail, {a, b}},
            {"first line without an address stops",
             head + Lines{rowA, "<tr><td>no address</td></tr>", rowB} + tail,
             {a}},
            {"the line after the marker is skipped", Lines{kAntiHeader, rowA, rowB} + tail, {b}},
            {"row on line count minus 211 is the last one", head + Lines{rowA} + tail, {a}},
            {"marker among the last 212 lines",
             Lines{kAntiHeader, rowA} + Lines{rowB} + repeated(rowB, 209),
             {}},
            {"row lines inside the tail are never read", head + repeated(rowA, 211), {a}},
            {"no marker", Lines{rowA, rowA, rowA} + tail, {}},
            {"upper-case row is lower-cased first",
             head + Lines{"<TD>1.2.3.4</TD><SCRIPT>DECODE(\"57,49\");</SCRIPT>"} + tail,
             {a}},
            {"address without a decode call",
             head + Lines{"<td>9.9.9.9</td>"} + tail,
             {ipPort("9.9.9.9", "")}},
            {"decode call without its close",
             head + Lines{"<td>9.9.9.9</td>decode(\"57,49\")"} + tail,
             {ipPort("9.9.9.9", "")}},
        });
}

// ---- every parser on hostile input ---------------------------------------------------------

TEST(SourceParsers, HostileInput) {
    // Markers on the first and last lines, 10 MB lines, invalid GBK and control bytes: each
    // parser only has to come back, with rows only where the rules allow them.
    const std::string huge(10u << 20, '<');
    const std::string binary("\x81\x00\xFF\xFE<td\x80</td\r\xA1", 14);
    const std::vector<Lines> pages = {
        {},
        {""},
        {huge},
        {kCnpHeader, huge, huge},
        {"x", kCnpHeader, huge + "<SCRIPT>" + huge, "x"},
        {kPcnMarker + huge, "", ""},
        {kNetMarker},
        Lines{kNetMarker} + repeated(binary, 30),
        {"</image>", "<title>" + huge + "</title>", "", ""},
        Lines{kAntiHeader, "", std::string(1u << 20, '9') + "." + huge} + repeated(binary, 210),
        repeated(binary, 300),
        repeated(kAntiHeader, 300),
        repeated("<tr bgcolor=#ffffff><td>", 40),
    };
    const Parser parsers[] = {parseCnpLines,       parseProxycnLines, parseHaozsLines,
                              parseProxynetLines,  parseRosLines,     parseProxylistsLines,
                              parseAntipalivoLines};
    for (std::size_t p = 0; p < std::size(pages); ++p) {
        for (Parser parser : parsers) {
            SCOPED_TRACE(p);
            const Rows rows = parse(parser, pages[p]);
            EXPECT_LE(rows.size(), pages[p].size());
        }
    }
}

}  // namespace
}  // namespace vorsa
