// Ctrl-C in the middle of a check of 2,000 proxies: the checks out finish, a complete file of
// the finished ones replaces the old one, exit 130; a second Ctrl-C ends it at once.
#include "cli_test_env.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>

#include <set>

namespace vorsa::test {
namespace {

using sandbox::Behaviour;

bool waitFor(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(10);
    }
    return true;
}

int serverRequests(sandbox::Sandbox& web) {
    int n = 0;
    for (const sandbox::LoggedRequest& r : web.requests())
        n += r.listener == "server" ? 1 : 0;
    return n;
}

TEST(CliInterrupt, SigintWritesTheFinishedChecks) {
    // 2,000 forwarding proxies, 250 per sandbox (a sandbox has 253 addresses; the others
    // reuse them on other ports). Each answers after 200 ms, so at 40 in flight the whole
    // check would take ten seconds. Every check ends at the first sandbox's server.
    sandbox::Options options;
    options.proxies = sandbox::repeat(Behaviour::ForwardDelayed, 250, 200);
    CliEnv env(options);
    std::vector<std::unique_ptr<sandbox::Sandbox>> more;
    std::string list;
    std::set<std::string> all;
    for (int i = 0; i < 8; ++i) {
        if (i > 0)
            more.push_back(std::make_unique<sandbox::Sandbox>(options));
        sandbox::Sandbox& web = i == 0 ? env.web() : *more.back();
        for (const sandbox::Proxy& p : web.proxies()) {
            list += p.proxyString() + "\n";
            all.insert(p.proxyString());
        }
    }
    ASSERT_EQ(all.size(), 2000u);
    writeFile(env.path("in.txt"), list);
    const std::string out = env.path("out.json");
    writeFile(out, "the old file\n");

    auto p = env.start({QStringLiteral("check"), QString::fromStdString(env.path("in.txt")),
                        QStringLiteral("--jobs"), QStringLiteral("40"), QStringLiteral("-o"),
                        QString::fromStdString(out)});
    ASSERT_TRUE(waitFor([&] { return serverRequests(env.web()) >= 100; }, 120000));
    // Every check the server has answered by now will have passed by the end.
    const int answered = serverRequests(env.web());
    ::kill(static_cast<pid_t>(p->processId()), SIGINT);
    ASSERT_TRUE(p->waitForFinished(60000));
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 130) << p->readAllStandardError().toStdString();

    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromStdString(readFile(out)), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << readFile(out);
    const QJsonArray rows = doc.array();
    EXPECT_GE(rows.size(), answered);
    EXPECT_LT(rows.size(), 2000) << "the stop came after the last check";
    std::set<std::string> seen;
    for (const QJsonValue& v : rows) {
        const QJsonObject o = v.toObject();
        const std::string addr = o.value(u"ip").toString().toStdString() + ":" +
                                 std::to_string(o.value(u"port").toInt());
        EXPECT_TRUE(all.count(addr)) << addr;
        EXPECT_TRUE(seen.insert(addr).second) << addr;
        EXPECT_TRUE(o.value(u"verified").toBool());
        EXPECT_GE(o.value(u"speed_ms").toInt(), 150);
    }
    // No check was started after the stop.
    EXPECT_EQ(serverRequests(env.web()), static_cast<int>(rows.size()));
}

TEST(CliInterrupt, SecondSigintEndsAtOnce) {
    sandbox::Options options;
    options.proxies = sandbox::repeat(Behaviour::NeverAnswer, 20);
    CliEnv env(options);
    std::string list;
    for (const sandbox::Proxy& p : env.web().proxies())
        list += p.proxyString() + "\n";
    writeFile(env.path("in.txt"), list);
    const std::string out = env.path("out.txt");
    writeFile(out, "the old file\n");
    auto p = env.start({QStringLiteral("check"), QString::fromStdString(env.path("in.txt")),
                        QStringLiteral("-o"), QString::fromStdString(out)});
    // Every proxy holds its connection: the checks are all out.
    ASSERT_TRUE(waitFor([&] { return env.web().requestCount() >= 20; }, 60000));
    const pid_t pid = static_cast<pid_t>(p->processId());
    ::kill(pid, SIGINT);
    // The first stop waits for the checks out (they never answer) ...
    EXPECT_FALSE(p->waitForFinished(1000));
    QElapsedTimer t;
    t.start();
    ::kill(pid, SIGINT);
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(p->exitCode(), 130);
    EXPECT_EQ(readFile(out), "the old file\n");
}

}  // namespace
}  // namespace vorsa::test
