// Closing the window in the middle of a harvest: the coordinator and the table are freed while
// workers are still downloading or waiting to hand rows over. The child process does that and
// leaves the way the program does; the parent checks it ended cleanly and without waiting for
// the stuck downloads.
#include "harvest/udlclass.h"
#include "harvest/worker_thread.h"
#include "harvest_test_env.h"
#include "platform/page_download.h"
#include "sandbox/sandbox.h"
#include "tests/support/fake_host.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vorsa {
namespace {

const char* g_self = nullptr;

int runChild(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    sandbox::Sandbox web;
    // Two sources hang in a download that never ends (the proxy reads and never answers).
    const std::string stuck = "http://" + web.proxy(sandbox::Behaviour::NeverAnswer).proxyString();
    test::pointHostsAt(web.baseUrl(), {{"cnp", stuck}, {"proxynet", stuck}});
    setDownloadLimits(DownloadLimits{});  // a minute before the stuck transfers give up

    auto* host = new test::FakeHost;
    host->pumpEvents = true;
    host->groups[0] = host->groups[1] = host->groups[2] = true;
    auto* daili = new tdaili(*host);
    daili->OnMessage = [host](const std::string& text) { host->showinfo(text); };
    test::pumpUntil([] { return harvestRunningWorkers() == 0; }, 5000);  // discovery
    actdownExecute(*host, *daili);
    // Close while rows are still coming in.
    test::pumpUntil([&] { return host->table().count() > 0; }, 5000);
    const bool jobsRunning = daili->JobCount > 0;

    harvestShutdown();
    delete daili;
    delete host;
    // What is left of the event loop still runs; late completions must do nothing.
    test::pumpUntil([] { return false; }, 300);
    std::printf("child-done jobs-running=%d\n", jobsRunning ? 1 : 0);
    std::fflush(stdout);
    std::fflush(stderr);
    // The program's exit path: no waiting for the workers, no statics torn down under them.
    std::quick_exit(0);
}

TEST(HarvestShutdown, CloseDuringHarvestExitsCleanlyAndPromptly) {
    QProcess child;
    QElapsedTimer timer;
    timer.start();
    child.start(QString::fromLocal8Bit(g_self), {QStringLiteral("--shutdown-child")});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForFinished(40000)) << "the process waited for its workers";
    const qint64 elapsed = timer.elapsed();
    const std::string out = child.readAllStandardOutput().toStdString();
    const std::string err = child.readAllStandardError().toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << err;
    EXPECT_EQ(child.exitCode(), 0) << err;
    EXPECT_NE(out.find("child-done jobs-running=1"), std::string::npos) << out << err;
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
    EXPECT_EQ(err.find("QThread: Destroyed"), std::string::npos) << err;
    // The stuck transfers would hold the process for a minute.
    EXPECT_LT(elapsed, 30000);
}

}  // namespace
}  // namespace vorsa

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--shutdown-child") == 0)
        return vorsa::runChild(argc, argv);
    vorsa::g_self = argv[0];
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
