// The reachability checker against real proxies: the sandbox's behaviours and tinyproxy.
#include "validation/ra_vinet_checker.h"

#include "platform/check_settings.h"
#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "platform/tick_count.h"
#include "sandbox/sandbox.h"
#include "table/grid_routines.h"
#include "tests/support/fake_host.h"
#include "tests/support/tinyproxy.h"
#include "validation/validation_run.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>

namespace vorsa {
namespace {

using sandbox::Behaviour;

constexpr std::uint32_t kReceiveTimeoutMs = 700;

struct Completion {
    TRaVInetChecker* sender;
    bool connected;
    Qt::HANDLE thread;
};

class CheckerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char arg0[] = "test_checker";
        static char* argv[] = {arg0, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
        TRaVInetChecker::setReceiveTimeout(kReceiveTimeoutMs);
        sandbox::Options o;
        o.proxies = {
            {Behaviour::Forward},     {Behaviour::Forward},     {Behaviour::ForwardDelayed, 200},
            {Behaviour::Answer404},   {Behaviour::Answer502},   {Behaviour::StripMarker},
            {Behaviour::CloseAtOnce}, {Behaviour::NeverAnswer}, {Behaviour::NotListening}};
        box = new sandbox::Sandbox(o);
    }
    static void TearDownTestSuite() {
        delete box;
        box = nullptr;
    }

    std::unique_ptr<TRaVInetChecker> checker(const std::string& proxy, const std::string& url) {
        auto c = std::make_unique<TRaVInetChecker>();
        c->AccessType = atProxy;
        c->Proxy = proxy;
        c->Url = url;
        c->OnComplete = [this](TRaVInetChecker* s, bool ok) {
            completions.push_back({s, ok, QThread::currentThreadId()});
        };
        return c;
    }
    // Runs the event loop until n completions came, then a little longer to catch extras.
    void waitFor(std::size_t n, int ms = 10000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (completions.size() < n && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QThread::msleep(2);
        }
        for (int i = 0; i < 50; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QThread::msleep(2);
        }
    }

    static sandbox::Sandbox* box;
    std::vector<Completion> completions;
};
sandbox::Sandbox* CheckerTest::box = nullptr;

TEST_F(CheckerTest, OneCompletionOnTheCreatingThreadWithThePassRule) {
    struct Case {
        const char* name;
        Behaviour behaviour;
        const char* page;
        bool passes;
    } cases[] = {
        {"forward", Behaviour::Forward, "/ip2city.asp", true},
        {"forward after a delay", Behaviour::ForwardDelayed, "/ip2city.asp", true},
        {"marker after byte 120", Behaviour::Forward, "/ip2city.asp?variant=late", false},
        {"empty body", Behaviour::Forward, "/ip2city.asp?variant=empty", false},
        {"body in UTF-8", Behaviour::Forward, "/ip2city.asp?variant=utf8", false},
        {"marker stripped", Behaviour::StripMarker, "/ip2city.asp", false},
        {"404", Behaviour::Answer404, "/ip2city.asp", false},
        {"502", Behaviour::Answer502, "/ip2city.asp", false},
        {"closes at once", Behaviour::CloseAtOnce, "/ip2city.asp", false},
        {"refused", Behaviour::NotListening, "/ip2city.asp", false},
        {"never answers", Behaviour::NeverAnswer, "/ip2city.asp", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        completions.clear();
        auto ch = checker(box->proxy(c.behaviour).proxyString(), box->url(c.page));
        ch->Tag = 7;
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_TRUE(ch->StartCheck());
        waitFor(1);
        ASSERT_EQ(completions.size(), 1u);
        EXPECT_EQ(completions[0].sender, ch.get());
        EXPECT_EQ(completions[0].connected, c.passes);
        EXPECT_EQ(completions[0].thread, QThread::currentThreadId());
        if (c.behaviour == Behaviour::NeverAnswer) {
            // Bounded by the connect timeout plus the receive timeout, not left hanging.
            const auto took = std::chrono::steady_clock::now() - t0;
            EXPECT_GE(took, std::chrono::milliseconds(kReceiveTimeoutMs));
            EXPECT_LT(took, std::chrono::milliseconds(3000 + kReceiveTimeoutMs + 3000));
        }
    }
}

// A judge page and keyword of the user's own, from [check] of hosts.ini, through a real proxy.
TEST_F(CheckerTest, CustomCheckPageAndMarkerFromTheHostsFile) {
    char tmpl[] = "/tmp/vorsa-judge-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    struct Restore {
        std::string dir;
        ~Restore() {
            ::unsetenv("VORSA_HOSTS");
            reloadHosts();
            reloadCheckSettings();
            std::remove((dir + "/hosts.ini").c_str());
            ::rmdir(dir.c_str());
        }
    } restore{dir};
    const auto useHosts = [&](const std::string& check) {
        std::ofstream(dir + "/hosts.ini", std::ios::binary) << box->hostsIni() << "\n[check]\n"
                                                            << check;
        ::setenv("VORSA_HOSTS", (dir + "/hosts.ini").c_str(), 1);
        reloadHosts();
        reloadCheckSettings();
        ASSERT_TRUE(checkSettings().problems.empty());
    };
    const std::string proxy = box->proxy(Behaviour::Forward).proxyString();
    struct Case {
        const char* check;  // [check] lines; %JUDGE% stands for the sandbox's judge page
        const char* page;   // the page the validation run then checks
        bool passes;
    } cases[] = {
        {"url=%JUDGE%\nmarker=VORSA-JUDGE-OK\nbytes=32\n", "/judge.txt", true},
        // The keyword ends at byte 14: a window of 13 bytes cannot hold it.
        {"url=%JUDGE%\nmarker=JUDGE-OK\nbytes=13\n", "/judge.txt", false},
        {"url=%JUDGE%\nmarker=JUDGE-OK\nbytes=14\n", "/judge.txt", true},
        // The default marker is not on the judge page, the keyword not on the check page.
        {"url=%JUDGE%\n", "/judge.txt", false},
        {"marker=VORSA-JUDGE-OK\n", "/ip2city.asp", false},
        // A UTF-8 marker in the file is looked for as GBK text.
        {"marker=来自\n", "/ip2city.asp", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.check);
        std::string check = c.check;
        if (const auto at = check.find("%JUDGE%"); at != std::string::npos)
            check.replace(at, 7, box->url("/judge.txt"));
        useHosts(check);
        test::FakeHost host;
        const std::string url = ValidationRun(host).checkUrl();
        EXPECT_EQ(url, box->url(c.page));
        completions.clear();
        auto ch = checker(proxy, url);
        ASSERT_TRUE(ch->StartCheck());
        waitFor(1);
        ASSERT_EQ(completions.size(), 1u);
        EXPECT_EQ(completions[0].connected, c.passes);
    }
}

TEST_F(CheckerTest, ThroughTinyproxy) {
    test::Tinyproxy tiny;
    if (!tiny.running())
        GTEST_SKIP() << "tinyproxy is not available";
    struct Case {
        const char* page;
        bool passes;
    } cases[] = {
        {"/ip2city.asp", true},
        {"/ip2city.asp?variant=late", false},
        {"/ip2city.asp?variant=empty", false},
        {"/ip2city.asp?variant=utf8", false},
        {"/no-such-page", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        completions.clear();
        auto ch = checker(tiny.address(), box->url(c.page));
        ASSERT_TRUE(ch->StartCheck());
        waitFor(1);
        ASSERT_EQ(completions.size(), 1u);
        EXPECT_EQ(completions[0].connected, c.passes);
    }
}

TEST_F(CheckerTest, ServerSeesTheUserAgentAndUrlThroughTheProxy) {
    box->clearRequests();
    const sandbox::Proxy& proxy = box->proxy(Behaviour::Forward);
    auto ch = checker(proxy.proxyString(), box->url("/ip2city.asp?probe=1"));
    ch->UserAgent = "Internet Explorer 7.0";
    ASSERT_TRUE(ch->StartCheck());
    waitFor(1);
    ASSERT_EQ(completions.size(), 1u);
    bool viaProxy = false, atServer = false;
    for (const auto& r : box->requests()) {
        if (r.query != "probe=1")
            continue;
        EXPECT_EQ(r.userAgent, "Internet Explorer 7.0");
        if (r.listener == proxy.proxyString()) {
            viaProxy = true;
            EXPECT_EQ(r.target, box->url("/ip2city.asp?probe=1"));
        }
        if (r.listener == "server") {
            atServer = true;
            EXPECT_EQ(r.peer, proxy.address);
        }
    }
    EXPECT_TRUE(viaProxy);
    EXPECT_TRUE(atServer);
}

TEST_F(CheckerTest, CheckersCompletingTogetherEachGetTheirOwnSender) {
    std::vector<std::unique_ptr<TRaVInetChecker>> checkers;
    const auto forwards = box->proxiesWith(Behaviour::Forward);
    const char* pages[] = {"/ip2city.asp", "/ip2city.asp?variant=late"};
    for (int i = 0; i < 40; ++i) {
        auto ch = checker(forwards[i % forwards.size()].proxyString(), box->url(pages[i % 2]));
        ch->Tag = i;
        ASSERT_TRUE(ch->StartCheck());
        checkers.push_back(std::move(ch));
    }
    waitFor(checkers.size());
    ASSERT_EQ(completions.size(), checkers.size());
    std::map<TRaVInetChecker*, int> seen;
    for (const Completion& c : completions) {
        ++seen[c.sender];
        EXPECT_EQ(c.connected, c.sender->Tag % 2 == 0) << c.sender->Tag;
    }
    EXPECT_EQ(seen.size(), checkers.size());
}

TEST_F(CheckerTest, StartCheckRulesAndInitialValues) {
    TRaVInetChecker fresh;
    EXPECT_EQ(fresh.AccessType, atDirectConnect);
    EXPECT_TRUE(fresh.AsynRequest);
    EXPECT_EQ(fresh.UserAgent, "ZaDIvez Internet Checker 1.0");
    EXPECT_EQ(fresh.timeout, 12500);
    EXPECT_EQ(fresh.starttime, 0);
    EXPECT_EQ(fresh.Tag, 0);

    // An empty Url issues nothing and fires nothing, not even OnStart.
    int starts = 0;
    auto ch = checker(box->proxy(Behaviour::Forward).proxyString(), "");
    ch->OnStart = [&](TRaVInetChecker* s) {
        EXPECT_EQ(s, ch.get());
        ++starts;
    };
    ch->timeout = 99;
    EXPECT_FALSE(ch->StartCheck());
    EXPECT_EQ(starts, 0);
    EXPECT_EQ(ch->timeout, 99);

    ch->Url = box->url("/ip2city.asp");
    EXPECT_TRUE(ch->StartCheck());
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(ch->timeout, 3000);
    waitFor(1);
    EXPECT_EQ(completions.size(), 1u);

    // A proxy that is not a plain host:port is never handed to the network layer.
    for (const char* bad : {"", ":", "127.0.0.1:80 -x", "user@127.0.0.1:80", "http://a:1"}) {
        SCOPED_TRACE(bad);
        auto b = checker(bad, box->url("/ip2city.asp"));
        EXPECT_FALSE(b->StartCheck());
    }
    waitFor(1, 0);
    EXPECT_EQ(completions.size(), 1u);
}

TEST_F(CheckerTest, SynchronousModeAnswersWithoutACompletion) {
    struct Case {
        Behaviour behaviour;
        bool answered;
    } cases[] = {
        {Behaviour::Forward, true},
        {Behaviour::Answer404, true},  // the server answered, whatever the status
        {Behaviour::NotListening, false},
        {Behaviour::CloseAtOnce, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sandbox::behaviourName(c.behaviour));
        auto ch = checker(box->proxy(c.behaviour).proxyString(), box->url("/ip2city.asp"));
        ch->AsynRequest = false;
        EXPECT_EQ(ch->StartCheck(), c.answered);
    }
    waitFor(0, 0);
    EXPECT_TRUE(completions.empty());
}

TEST_F(CheckerTest, ADestroyedCheckerDropsItsLateResult) {
    for (Behaviour b : {Behaviour::NeverAnswer, Behaviour::ForwardDelayed}) {
        auto ch = checker(box->proxy(b).proxyString(), box->url("/ip2city.asp"));
        ASSERT_TRUE(ch->StartCheck());
    }
    QThread::msleep(kReceiveTimeoutMs + 500);
    waitFor(0, 0);
    EXPECT_TRUE(completions.empty());
}

// The steady clock moved so that the 32-bit count wraps 200 ms after the test starts; read
// on the main thread and the network thread alike.
struct WrappingTicks : TickSource {
    std::int64_t offset = 0;
    static std::int64_t steadyMs() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    std::uint32_t ticks() const override {
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(steadyMs() + offset));
    }
};

TEST_F(CheckerTest, RunSpeedsAreTheProxiesOwnTimesNotThePacing) {
    // Real pauses of 150 ms between the checks: a completion is only handled after the pause,
    // but its speed is the time its reply took.
    sandbox::Options o;
    o.proxies = {{Behaviour::ForwardDelayed, 400},
                 {Behaviour::ForwardDelayed, 40},
                 {Behaviour::ForwardDelayed, 5}};
    sandbox::Sandbox web(o);
    WrappingTicks ticks;
    ticks.offset = (std::int64_t{1} << 32) - 200 - WrappingTicks::steadyMs();
    setTickSource(&ticks);

    test::FakeHost host;
    host.pumpEvents = true;
    host.realPauses = true;
    ValidationRun run(host);
    run.setCheckUrl(web.url("/ip2city.asp"));
    for (const sandbox::Proxy& p : web.proxies())
        test::appendRow(host.table(), p.address, std::to_string(p.port));
    refreshgrid(host);
    run.actcheckExecute();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!host.state().CheckDone && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(2);
    }
    setTickSource(nullptr);
    ASSERT_TRUE(host.state().CheckDone);

    ASSERT_EQ(host.grid().gridRowCount(), 4);
    const int delays[] = {5, 40, 400};  // fastest first
    for (int r = 1; r <= 3; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(host.grid().cell(1, r), web.proxies()[std::size_t(3 - r)].address);
        const int speed = std::stoi(host.grid().cell(6, r));
        EXPECT_GE(speed, delays[r - 1]);
        EXPECT_LT(speed, delays[r - 1] + 25);
    }
}

// The pass rule on replies built by hand: which bytes count, and that a non-200 reply's
// body is never read.
TEST(CheckPasses, StatusAndTheFirst120Bytes) {
    const std::string marker = gbk::text("您的IP地址");
    struct Case {
        const char* name;
        long status;
        std::string body;
        bool passes;
        bool bodyRead;
    } cases[] = {
        {"marker first", 200, marker + "x", true, true},
        {"marker ends at byte 120", 200, std::string(110, 'a') + marker, true, true},
        {"marker crosses byte 120", 200, std::string(111, 'a') + marker, false, true},
        {"only ASCII", 200, "IP", false, true},
        {"404 with the marker", 404, marker, false, false},
        {"502 with the marker", 502, marker, false, false},
        {"2000 is not 200", 2000, marker, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InternetRequest request(c.status, c.body, false);
        EXPECT_EQ(checkPasses(&request), c.passes);
        char rest[400];
        std::size_t got = 0;
        ASSERT_TRUE(request.readFile(rest, sizeof rest, got));
        const std::size_t unread =
            c.bodyRead ? c.body.size() - std::min<std::size_t>(120, c.body.size()) : c.body.size();
        EXPECT_EQ(got, unread);
    }
    EXPECT_FALSE(checkPasses(nullptr));
    InternetRequest broken(200, "", true);
    EXPECT_FALSE(checkPasses(&broken));
}

}  // namespace
}  // namespace vorsa
