// The seven list sources end to end: real downloads from the sandbox on loopback, the
// hand-over to the main thread and the rows the table ends with.
#include "harvest/ugethaozs.h"
#include "harvest/unantipalivo.h"
#include "harvest/uncnp.h"
#include "harvest/undownurl.h"
#include "harvest/ungetnewurl.h"
#include "harvest/unplist.h"
#include "harvest/unpnet.h"
#include "harvest/unros.h"
#include "harvest/uproxycn.h"
#include "harvest/url_list.h"

#include "platform/hosts_config.h"
#include "platform/page_download.h"
#include "platform/run_directory.h"
#include "sandbox/sandbox.h"
#include "tests/support/fake_host.h"
#include "tests/support/tinyproxy.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vorsa {
namespace {

using test::FakeHost;

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test_sources_workers";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return *instance;
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return true;
}

std::string tempFile(const char* stem) {
    return (std::filesystem::temp_directory_path() /
            (std::string(stem) + "-" + std::to_string(::getpid())))
        .string();
}

void pointHostsAt(const sandbox::Sandbox* sb, const std::string& base) {
    static const std::string path = tempFile("vorsa-sources-hosts");
    if (sb) {
        sb->writeHostsIni(path);
    } else {
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "[hosts]\n");
        for (std::string_view key : hostKeys())
            std::fprintf(f, "%.*s=%s\n", int(key.size()), key.data(), base.c_str());
        std::fclose(f);
    }
    ::setenv("VORSA_HOSTS", path.c_str(), 1);
    reloadHosts();
}

struct Row {
    std::string Ip, Port, Protocol, Location;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << "{" << r.Ip << " | " << r.Port << " | " << r.Protocol << " | " << r.Location << "}";
}

std::vector<Row> tableRows(ProxyTable& t) {
    std::vector<Row> rows;
    for (int i = 1; i <= t.count(); ++i) {
        const ProxyRecord& r = t.at(i);
        rows.push_back({r.text(Field::Ip), r.text(Field::Port), r.text(Field::Protocol),
                        r.text(Field::Location)});
    }
    return rows;
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every download a worker makes: the temp name it downloads to, and what its job folder
// still held when the download began (the files of earlier pages, had they not been deleted).
class DownloadLog {
public:
    DownloadLog() {
        setDownloadObserver([this](const std::string&, const std::string& path) {
            const std::filesystem::path p(path);
            std::lock_guard lock(m_mutex);
            m_dir = p.parent_path().string();
            m_names.push_back(p.filename().string());
            for (const std::string& left : filesIn(m_dir))
                m_leftovers.push_back(left + " before " + p.filename().string());
        });
    }
    ~DownloadLog() { setDownloadObserver(nullptr); }
    // Main thread, once the worker's body has ended but before the worker (and its job folder)
    // is gone.
    void atEnd() {
        std::lock_guard lock(m_mutex);
        if (!m_dir.empty())
            for (const std::string& left : filesIn(m_dir))
                m_leftovers.push_back(left + " at the end");
    }
    std::vector<std::string> names() {
        std::lock_guard lock(m_mutex);
        return m_names;
    }
    std::vector<std::string> leftovers() {
        std::lock_guard lock(m_mutex);
        return m_leftovers;
    }

private:
    std::mutex m_mutex;
    std::string m_dir;
    std::vector<std::string> m_names;
    std::vector<std::string> m_leftovers;
};

// Starts worker the way the coordinator does and pumps the main thread until it completed.
bool runToCompletion(TWorkerThread* worker, DownloadLog* log = nullptr) {
    bool done = false;
    worker->FreeOnTerminate = true;
    worker->OnTerminate = [&done, log](TWorkerThread*) {
        if (log)
            log->atEnd();
        done = true;
    };
    worker->Start();
    return pumpUntil([&] { return done; });
}

std::vector<std::string> numbered(int first, int last, const std::string& suffix) {
    std::vector<std::string> names;
    for (int n = first; n <= last; ++n)
        names.push_back(std::to_string(n) + suffix);
    return names;
}

std::vector<std::string> requestedPaths(const sandbox::Sandbox& sb) {
    std::vector<std::string> paths;
    for (const sandbox::LoggedRequest& r : sb.requests())
        paths.push_back(r.query.empty() ? r.path : r.path + "?" + r.query);
    return paths;
}

bool runDirectoryEmpty() {
    const std::string& dir = RunDirectory::instance().path();
    return !std::filesystem::exists(dir) || std::filesystem::is_empty(dir);
}

class SourceWorkers : public testing::Test {
protected:
    static void SetUpTestSuite() {
        app();
        // Never through a proxy from the user's own settings; short limits for dead ports.
        ::setenv("VORSA_INTERNET_SETTINGS", tempFile("vorsa-sources-inet").c_str(), 1);
        DownloadLimits limits;
        limits.connectTimeoutMs = 2000;
        limits.totalTimeoutMs = 5000;
        limits.stallSeconds = 3;
        setDownloadLimits(limits);
        s_sandbox = new sandbox::Sandbox();
    }
    static void TearDownTestSuite() {
        delete s_sandbox;
        s_sandbox = nullptr;
    }
    void SetUp() override {
        pointHostsAt(s_sandbox, {});
        s_sandbox->clearRequests();
        host.table().opentable();
    }

    std::vector<Row> expected(const std::string& source) const {
        std::vector<Row> rows;
        for (const sandbox::ExpectedRow& e : s_sandbox->expectedRows())
            if (e.source == source)
                rows.push_back({e.Ip, e.Port, e.Protocol, e.Location});
        return rows;
    }

    static sandbox::Sandbox* s_sandbox;
    FakeHost host;
};

sandbox::Sandbox* SourceWorkers::s_sandbox = nullptr;

struct SourceCase {
    const char* source;
    std::function<SourceWorker*(MainHost&)> create;
    std::vector<std::string> paths;
    std::vector<std::string> files;  // the temp name of each page, in order
};

const std::vector<SourceCase>& sourceCases() {
    static const std::vector<SourceCase> cases = {
        {"cnp",
         [](MainHost& h) { return new tdowncnp(h); },
         {"/proxy1.html", "/proxy2.html", "/proxy3.html", "/proxy4.html", "/proxy5.html",
          "/proxy6.html", "/proxy7.html", "/proxy8.html", "/proxy9.html", "/proxy10.html"},
         numbered(1, 10, ".cnp")},
        {"proxycn",
         [](MainHost& h) { return new Tproxycn(h); },
         {"/html_proxy/30fastproxy-1.html", "/html_proxy/http-1.html", "/html_proxy/http-2.html",
          "/html_proxy/http-3.html", "/html_proxy/http-4.html", "/html_proxy/http-5.html"},
         numbered(0, 5, ".pcn")},
        {"proxynet",
         [](MainHost& h) { return new Tproxynet(h); },
         {"/lista-proxy/lista-1-17.html", "/lista-proxy/lista-2-18.html",
          "/lista-proxy/lista-3-19.html", "/lista-proxy/lista-4-20.html",
          "/lista-proxy/lista-5-21.html"},
         numbered(1, 5, ".pnet")},
        {"ros",
         [](MainHost& h) { return new tdownros(h); },
         {"/proxy/l100.xml", "/proxy/plab100.xml"},
         {"1.ros", "2.ros"}},
        {"proxylists",
         [](MainHost& h) { return new Tproxylists(h); },
         {"/http_highanon.txt", "/http.txt"},
         {"pn.1st", "pn.2st"}},
        {"antipalivo", [](MainHost& h) { return new Tantipalivo(h); }, {"/proxy/list"}, {"x.anti"}},
    };
    return cases;
}

TEST_F(SourceWorkers, EachSourceHarvestsItsPages) {
    for (const SourceCase& c : sourceCases()) {
        SCOPED_TRACE(c.source);
        host.table().clear();
        s_sandbox->clearRequests();
        DownloadLog log;
        ASSERT_TRUE(runToCompletion(c.create(host), &log));
        EXPECT_EQ(requestedPaths(*s_sandbox), c.paths);
        EXPECT_EQ(log.names(), c.files);
        // Each page's file goes once the page is parsed, not with the job folder.
        EXPECT_EQ(log.leftovers(), std::vector<std::string>{});
        const std::vector<Row> want = expected(c.source);
        EXPECT_FALSE(want.empty());
        EXPECT_EQ(tableRows(host.table()), want);
        EXPECT_TRUE(runDirectoryEmpty()) << "temp files left behind";
    }
}

TEST_F(SourceWorkers, HaozsReadsTheArticlesDiscoveryFound) {
    SharedUrlList custom, articles;
    {
        bool done = false;
        auto* discovery = new Tgetnewurl;
        discovery->CustomUrls = &custom;
        discovery->ArticleUrls = &articles;
        discovery->FreeOnTerminate = true;
        discovery->OnTerminate = [&done](TWorkerThread*) { done = true; };
        discovery->Start();
        ASSERT_TRUE(pumpUntil([&] { return done; }));
    }
    ASSERT_GE(articles.count(), 2);
    s_sandbox->clearRequests();

    auto* worker = new Tgethaozs(host);
    worker->UrlList = &articles;
    DownloadLog log;
    ASSERT_TRUE(runToCompletion(worker, &log));
    EXPECT_EQ(log.names(), numbered(1, articles.count() - 1, ".hao"));
    EXPECT_EQ(log.leftovers(), std::vector<std::string>{});

    std::vector<std::string> wantPaths;  // entry 0 is never fetched
    for (int i = 1; i < articles.count(); ++i)
        wantPaths.push_back(articles.at(i).substr(s_sandbox->baseUrl().size()));
    EXPECT_EQ(requestedPaths(*s_sandbox), wantPaths);
    EXPECT_EQ(tableRows(host.table()), expected("haozs"));
    EXPECT_TRUE(runDirectoryEmpty());
}

TEST_F(SourceWorkers, CustomUrlsArePagesOfTheirOwn) {
    const std::vector<std::string> pages = {"/ip/2011/0901/a1.html", "/ip/2011/0831/a2.html",
                                            "/html/26/n-1001.html", "/html/26/n-1002.html",
                                            "/daili/zxhttp/2011/0901/c1.html"};
    SharedUrlList custom;
    for (const std::string& p : pages)
        custom.append(s_sandbox->url(p));
    auto* worker = new Tdownurl(host);
    worker->UrlList = &custom;
    DownloadLog log;
    ASSERT_TRUE(runToCompletion(worker, &log));
    EXPECT_EQ(requestedPaths(*s_sandbox), pages);
    EXPECT_EQ(log.names(), numbered(0, 4, ".xurl"));
    EXPECT_EQ(log.leftovers(), std::vector<std::string>{});
    EXPECT_EQ(tableRows(host.table()), expected("custom"));
}

TEST_F(SourceWorkers, DiscoveryRunsItsFiveStepsInOrder) {
    SharedUrlList custom, articles;
    auto* discovery = new Tgetnewurl;
    discovery->CustomUrls = &custom;
    discovery->ArticleUrls = &articles;
    DownloadLog log;
    ASSERT_TRUE(runToCompletion(discovery, &log));

    EXPECT_EQ(requestedPaths(*s_sandbox),
              (std::vector<std::string>{"/ip/", "/html/26/category-catid-126.html",
                                        "/daili/zxhttp/", "/Class.asp?ID=37", "/Class.asp?ID=36"}));
    EXPECT_EQ(log.names(), (std::vector<std::string>{"admin.url", "sooip.url", "3ghttp.url",
                                                     "haozs.1st", "haozs.2st"}));
    EXPECT_EQ(log.leftovers(), std::vector<std::string>{});

    const std::string base = s_sandbox->baseUrl();
    // Portal A twice, B twice, C once.
    EXPECT_EQ(custom.snapshot(), (std::vector<std::string>{
                                     base + "/ip/2011/0901/a1.html", base + "/ip/2011/0831/a2.html",
                                     base + "/html/26/n-1001.html", base + "/html/26/n-1002.html",
                                     base + "/daili/zxhttp/2011/0901/c1.html"}));
    // Seven of class page 37, then class page 36, which links 37-2 again: added twice.
    std::vector<std::string> want;
    for (int k = 1; k <= 7; ++k)
        want.push_back(base + "/Article/2011/0901/37-" + std::to_string(k) + ".html");
    want.push_back(base + "/Article/2011/0901/37-2.html");
    for (int k = 2; k <= 5; ++k)
        want.push_back(base + "/Article/2011/0901/36-" + std::to_string(k) + ".html");
    EXPECT_EQ(articles.snapshot(), want);
}

TEST_F(SourceWorkers, HaozsWithOneEntryDownloadsNothing) {
    SharedUrlList articles;
    articles.append(s_sandbox->url("/Article/2011/0901/37-1.html"));
    auto* worker = new Tgethaozs(host);
    worker->UrlList = &articles;
    ASSERT_TRUE(runToCompletion(worker));
    EXPECT_EQ(s_sandbox->requestCount(), 0u);
    EXPECT_EQ(host.table().count(), 0);
}

TEST_F(SourceWorkers, TwoJobsOfOneSourceKeepTheirFilesApart) {
    bool doneA = false, doneB = false;
    auto* a = new tdowncnp(host);
    auto* b = new tdowncnp(host);
    for (auto [w, flag] : {std::pair{a, &doneA}, std::pair{b, &doneB}}) {
        w->FreeOnTerminate = true;
        w->OnTerminate = [flag](TWorkerThread*) { *flag = true; };
    }
    a->Start();
    b->Start();
    ASSERT_TRUE(pumpUntil([&] { return doneA && doneB; }));
    const std::vector<Row> once = expected("cnp");
    EXPECT_EQ(host.table().count(), int(2 * once.size()));
    EXPECT_TRUE(runDirectoryEmpty());
}

TEST_F(SourceWorkers, DeadHostsStillComplete) {
    pointHostsAt(nullptr, "http://127.0.0.1:" + std::to_string(test::freeLoopbackPort()));
    for (const SourceCase& c : sourceCases()) {
        SCOPED_TRACE(c.source);
        ASSERT_TRUE(runToCompletion(c.create(host)));
    }
    EXPECT_EQ(host.table().count(), 0);
    EXPECT_TRUE(runDirectoryEmpty());
}

}  // namespace
}  // namespace vorsa
