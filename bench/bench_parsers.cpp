// Parse throughput of each list source on a large page (20,000 proxies), rows handed to a
// sink that only counts them.
#include "harvest/ugethaozs.h"
#include "harvest/unantipalivo.h"
#include "harvest/uncnp.h"
#include "harvest/unplist.h"
#include "harvest/unpnet.h"
#include "harvest/unros.h"
#include "harvest/uproxycn.h"
#include "platform/codec.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using Parser = void (*)(const Lines&, const vorsa::RowSink&);

constexpr int kProxies = 20000;

std::string ip(int i) {
    return "10." + std::to_string(i / 65536 % 256) + "." + std::to_string(i / 256 % 256) + "." +
           std::to_string(i % 256);
}

std::string port(int i) {
    return std::to_string(1024 + i % 60000);
}

std::string cnpCodes(const std::string& digits) {
    static const char* letter = "dckzmbwirl";  // 0..9 in the site's letter codes
    std::string codes;
    for (char d : digits) {
        codes += '+';
        codes += letter[d - '0'];
    }
    return codes;
}

std::string antiCodes(const std::string& digits) {
    std::string codes;
    for (char d : digits) {
        if (!codes.empty())
            codes += ',';
        codes += std::to_string(d - '0' + 49);
    }
    return codes;
}

Lines cnpPage() {
    const std::string loc = vorsa::gbk::text("广东省广州市 电信");
    Lines l = {"<html>",
               "<tr><td width=\"140\">IP:Port</td><td width=\"40\">Type</td><td "
               "width=\"90\">Speed</td><td width=\"160\"> Country/Area</td></tr>"};
    for (int i = 0; i < kProxies; ++i)
        l.push_back("<tr><td>" + ip(i) + "<SCRIPT type=text/javascript>document.write(\":\"" +
                    cnpCodes(port(i)) + ")</SCRIPT></td><td>HTTP</td><td>0.52</td><td>" + loc +
                    "</td></tr>");
    l.insert(l.end(), {"</table>", "</body></html>"});
    return l;
}

Lines proxycnPage() {
    Lines l = {"<html>"};
    for (int i = 0; i < kProxies; ++i)
        l.push_back("<TR align=\"center\" bgcolor=\"#fbfbfb\" onDblClick=\"clip('" + ip(i) + ":" +
                    port(i) + "');alert('ok')\"><TD>" + ip(i) + "</TD></TR>");
    l.insert(l.end(), {"</TABLE>", "</html>"});
    return l;
}

Lines haozsPage() {
    const std::string loc = vorsa::gbk::text("浙江省杭州市 dianxin");
    Lines l = {"<html>", "<TR bgcolor=\"#FFFFFF\"><td>IP</td></TR>"};
    for (int i = 0; i < kProxies; ++i)
        l.insert(l.end(), {"<td>" + ip(i) + "</td>", "<td>" + port(i) + "</td>",
                           "<td>" + loc + "</td>", "<td>HTTP</td>", "</tr>", "<tr>"});
    l.push_back("</table>");
    l.insert(l.end(), 16, "<p></p>");
    return l;
}

Lines proxynetPage() {
    Lines l = {"<html>", "<div class=\"content\"><table id=\"proxy-list\" width=\"100%\">"};
    l.insert(l.end(), 8, "<th>");
    for (int i = 0; i < kProxies; ++i)
        l.insert(l.end(),
                 {"  <td>" + ip(i) + "</td>", "  <td>" + port(i) + "</td>", "  <td>http</td>",
                  "  <td>Brasil</td>", "  <td>anonymous</td>", "</tr>", "<tr>"});
    l.push_back("  </table>  ");
    l.insert(l.end(), 8, "</div>");
    return l;
}

Lines rosPage() {
    Lines l = {"<rss>", "<image>", "</image>"};
    for (int i = 0; i < kProxies; ++i)
        l.insert(l.end(), {"<item>", "<title>" + ip(i) + ":" + port(i) + "</title>",
                           "<link>/p</link>", "</item>"});
    l.insert(l.end(), {"</channel>", "</rss>"});
    return l;
}

Lines proxylistsPage() {
    Lines l;
    for (int i = 0; i < kProxies; ++i)
        l.push_back(ip(i) + ":" + port(i));
    return l;
}

Lines antipalivoPage() {
    Lines l = {"<html>", "<tr><td align=\"center\" colspan=\"5\">HTTP</td></tr>", "<tr><th>"};
    for (int i = 0; i < kProxies; ++i)
        l.push_back("<tr><td>" + ip(i) + "</td><td><script>port=decode(\"" + antiCodes(port(i)) +
                    "\");</script></td><td>HTTP</td><td>Elite</td></tr>");
    l.push_back("</table>");
    l.insert(l.end(), 230, "<p>footer</p>");
    return l;
}

void runParser(benchmark::State& state, Parser parser, const Lines& page) {
    std::int64_t bytes = 0;
    for (const std::string& line : page)
        bytes += std::int64_t(line.size()) + 2;
    std::int64_t rows = 0;
    for (auto _ : state) {
        parser(page, [&rows](const vorsa::HarvestRow& r) {
            benchmark::DoNotOptimize(r.Ip.data());
            ++rows;
        });
    }
    state.SetBytesProcessed(bytes * state.iterations());
    state.counters["rows/s"] = benchmark::Counter(double(rows), benchmark::Counter::kIsRate);
    state.counters["rows/page"] = double(rows) / double(state.iterations());
}

void BM_cnp(benchmark::State& s) {
    static const Lines page = cnpPage();
    runParser(s, vorsa::parseCnpLines, page);
}
void BM_proxycn(benchmark::State& s) {
    static const Lines page = proxycnPage();
    runParser(s, vorsa::parseProxycnLines, page);
}
void BM_haozs(benchmark::State& s) {
    static const Lines page = haozsPage();
    runParser(s, vorsa::parseHaozsLines, page);
}
void BM_proxynet(benchmark::State& s) {
    static const Lines page = proxynetPage();
    runParser(s, vorsa::parseProxynetLines, page);
}
void BM_ros(benchmark::State& s) {
    static const Lines page = rosPage();
    runParser(s, vorsa::parseRosLines, page);
}
void BM_proxylists(benchmark::State& s) {
    static const Lines page = proxylistsPage();
    runParser(s, vorsa::parseProxylistsLines, page);
}
void BM_antipalivo(benchmark::State& s) {
    static const Lines page = antipalivoPage();
    runParser(s, vorsa::parseAntipalivoLines, page);
}

BENCHMARK(BM_cnp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_proxycn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_haozs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_proxynet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ros)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_proxylists)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_antipalivo)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
