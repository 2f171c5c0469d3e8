// harvest, run and proxy against the simulated web and a private desktop proxy store.
#include "cli_test_env.h"

#include "platform/codec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace vorsa::test {
namespace {

using sandbox::Behaviour;

TEST(CliHarvest, AllGroupsGiveTheDeduplicatedSourceRows) {
    CliEnv env;
    const CliRun r = env.run(qargs({"harvest", "--groups", "domestic,foreign,custom"}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    std::vector<std::string> got = lines(r.out);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, env.web().expectedHarvest());

    // JSON keeps what the sources said about each row (cnp fills protocol and location).
    const std::string out = env.path("h.json");
    const CliRun json = env.run({QStringLiteral("harvest"), QStringLiteral("--groups=domestic"),
                                 QStringLiteral("-o"), QString::fromStdString(out)});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    const QJsonArray rows =
        QJsonDocument::fromJson(QByteArray::fromStdString(readFile(out))).array();
    ASSERT_FALSE(rows.isEmpty());
    std::set<std::string> withLocation;
    for (const QJsonValue& v : rows) {
        const QJsonObject o = v.toObject();
        EXPECT_TRUE(o.value(u"verified").isNull());
        EXPECT_TRUE(o.value(u"speed_ms").isNull());
        if (o.value(u"location").isString())
            withLocation.insert(o.value(u"location").toString().toStdString());
    }
    EXPECT_FALSE(withLocation.empty());
    // Only the domestic sources were asked.
    for (const sandbox::LoggedRequest& req : env.web().requests())
        EXPECT_EQ(req.path.find("proxylists"), std::string::npos) << req.path;
}

TEST(CliHarvest, RunHarvestsThenChecks) {
    sandbox::Options options;
    options.proxies = {{Behaviour::Forward},     {Behaviour::ForwardDelayed, 60},
                       {Behaviour::Answer404},   {Behaviour::StripMarker},
                       {Behaviour::CloseAtOnce}, {Behaviour::NotListening}};
    CliEnv env(options);
    const CliRun r = env.run(qargs({"run", "--groups", "domestic,foreign,custom", "--jobs", "4"}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    std::set<std::string> harvested;
    for (const std::string& addr : env.web().expectedHarvest())
        harvested.insert(addr);
    std::vector<std::string> want;
    for (Behaviour b : {Behaviour::Forward, Behaviour::ForwardDelayed}) {
        const std::string p = env.web().proxy(b).proxyString();
        if (harvested.count(p))
            want.push_back(p);
    }
    ASSERT_FALSE(want.empty()) << "the sources list none of the forwarding proxies";
    EXPECT_EQ(lines(r.out), want);  // fastest first
}

TEST(CliHarvest, ProxyGetSetOff) {
    CliEnv env;
    const auto text = [](const char* utf8) {
        return gbk::toUnicode(gbk::text(utf8)).toLocal8Bit().toStdString();
    };
    EXPECT_EQ(lines(env.run(qargs({"proxy", "get"})).out),
              std::vector<std::string>{text("当前代理为：停用")});

    const CliRun set = env.run(qargs({"proxy", "set", "127.0.0.2:3128"}));
    EXPECT_EQ(set.exitCode, 0) << set.err.toStdString();
    EXPECT_EQ(lines(set.out), std::vector<std::string>{text("当前代理为：127.0.0.2:3128")});
    EXPECT_EQ(lines(env.run(qargs({"proxy", "get"})).out),
              std::vector<std::string>{text("当前代理为：127.0.0.2:3128")});
    // The desktop's own store holds it.
    const std::string keyfile = readFile(env.path("config/glib-2.0/settings/keyfile"));
    EXPECT_NE(keyfile.find("'manual'"), std::string::npos) << keyfile;
    EXPECT_NE(keyfile.find("3128"), std::string::npos) << keyfile;

    const CliRun off = env.run(qargs({"proxy", "off"}));
    EXPECT_EQ(off.exitCode, 0) << off.err.toStdString();
    EXPECT_EQ(lines(off.out), std::vector<std::string>{text("当前代理为：禁用")});
    EXPECT_EQ(lines(env.run(qargs({"proxy", "get"})).out),
              std::vector<std::string>{text("当前代理为：停用")});
}

}  // namespace
}  // namespace vorsa::test
