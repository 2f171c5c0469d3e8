// The sandbox's source and portal pages read by the program's own parsers: what they yield
// must be exactly the rows the sandbox promises in expectedRows(), so end-to-end tests of the
// harvest can rely on that list.
#include "sandbox/sandbox.h"

#include "harvest/ugethaozs.h"
#include "harvest/unantipalivo.h"
#include "harvest/uncnp.h"
#include "harvest/undownurl.h"
#include "harvest/ungetnewurl.h"
#include "harvest/unplist.h"
#include "harvest/unpnet.h"
#include "harvest/unros.h"
#include "harvest/uproxycn.h"
#include "platform/text_lines.h"
#include "tests/sandbox/http_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace vorsa::sandbox;

namespace {

using Parser = std::function<void(const std::vector<std::string>&, const vorsa::RowSink&)>;

std::vector<std::string> pageLines(const std::string& url) {
    auto r = vorsa::test::fetch(url);
    EXPECT_EQ(r.status, 200) << url;
    return vorsa::splitLines(r.body);
}

std::string describe(const std::vector<ExpectedRow>& rows) {
    std::string out;
    for (const ExpectedRow& r : rows)
        out += r.Ip + ":" + r.Port + " [" + r.Protocol + "] [" + r.Location + "]\n";
    return out;
}

std::vector<ExpectedRow> harvestWithParsers(const Sandbox& sb) {
    std::vector<ExpectedRow> rows;
    auto run = [&](const char* source, const std::string& url, const Parser& parse) {
        parse(pageLines(url), [&](const vorsa::HarvestRow& r) {
            rows.push_back({source, r.Ip, r.Port, r.Protocol, r.Location});
        });
    };
    const std::string base = sb.baseUrl();
    for (int n = 1; n <= 10; ++n)
        run("cnp", base + "/proxy" + std::to_string(n) + ".html", vorsa::parseCnpLines);
    run("proxycn", base + "/html_proxy/30fastproxy-1.html", vorsa::parseProxycnLines);
    for (int n = 1; n <= 5; ++n)
        run("proxycn", base + "/html_proxy/http-" + std::to_string(n) + ".html",
            vorsa::parseProxycnLines);

    std::vector<std::string> articles;
    for (const char* id : {"37", "36"})
        for (const std::string& url :
             vorsa::parsePortalD(pageLines(base + "/Class.asp?ID=" + id), base))
            articles.push_back(url);
    EXPECT_EQ(articles.size(), 12u);
    for (std::size_t i = 1; i < articles.size(); ++i)
        run("haozs", articles[i], vorsa::parseHaozsLines);

    for (int n = 1; n <= 5; ++n)
        run("proxynet",
            base + "/lista-proxy/lista-" + std::to_string(n) + "-" + std::to_string(n + 16) +
                ".html",
            vorsa::parseProxynetLines);
    run("ros", base + "/proxy/l100.xml", vorsa::parseRosLines);
    run("ros", base + "/proxy/plab100.xml", vorsa::parseRosLines);
    run("proxylists", base + "/http_highanon.txt", vorsa::parseProxylistsLines);
    run("proxylists", base + "/http.txt", vorsa::parseProxylistsLines);
    run("antipalivo", base + "/proxy/list", vorsa::parseAntipalivoLines);

    std::vector<std::string> custom;
    for (auto [path, parse] :
         std::initializer_list<std::pair<const char*, decltype(&vorsa::parsePortalA)>>{
             {"/ip/", vorsa::parsePortalA},
             {"/html/26/category-catid-126.html", vorsa::parsePortalB},
             {"/daili/zxhttp/", vorsa::parsePortalC}})
        for (const std::string& url : parse(pageLines(base + path), base))
            custom.push_back(url);
    EXPECT_EQ(custom.size(), 5u);
    for (const std::string& url : custom)
        run("custom", url, vorsa::parseDownurlLines);
    return rows;
}

TEST(SandboxPagesThroughTheParsers, YieldExactlyTheExpectedRows) {
    Sandbox sb;
    std::vector<ExpectedRow> got = harvestWithParsers(sb);
    std::map<std::string, std::vector<ExpectedRow>> bySourceGot, bySourceWant;
    for (const ExpectedRow& r : got)
        bySourceGot[r.source].push_back(r);
    for (const ExpectedRow& r : sb.expectedRows())
        bySourceWant[r.source].push_back(r);
    ASSERT_EQ(bySourceWant.size(), 8u);
    for (const auto& [source, want] : bySourceWant) {
        SCOPED_TRACE(source);
        EXPECT_EQ(describe(bySourceGot[source]), describe(want));
    }
}

TEST(SandboxPagesThroughTheParsers, ScaledListsYieldTheSyntheticAddressesToo) {
    Options options;
    options.proxies = repeat(Behaviour::Forward, 2);
    options.scale = 5000;
    Sandbox sb(options);
    std::set<std::string> got;
    for (const ExpectedRow& r : harvestWithParsers(sb))
        got.insert(r.Ip + ":" + r.Port);
    auto want = sb.expectedHarvest();
    EXPECT_EQ(got, std::set<std::string>(want.begin(), want.end()));
}

}  // namespace
