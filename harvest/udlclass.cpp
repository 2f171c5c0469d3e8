#include "harvest/udlclass.h"

#include "harvest/ugethaozs.h"
#include "harvest/unantipalivo.h"
#include "harvest/uncnp.h"
#include "harvest/undownurl.h"
#include "harvest/ungetnewurl.h"
#include "harvest/unplist.h"
#include "harvest/unpnet.h"
#include "harvest/unros.h"
#include "harvest/uproxycn.h"
#include "harvest/worker_thread.h"
#include "platform/codec.h"
#include "platform/user_sources.h"
#include "table/grid_routines.h"

namespace vorsa {

tdaili::tdaili(MainHost& host, bool startDiscovery)
    : CustomUrls(new SharedUrlList),
      ArticleUrls(new SharedUrlList),
      m_host(host),
      m_custom(CustomUrls),
      m_article(ArticleUrls),
      m_token(std::make_shared<int>(0)) {
    if (!startDiscovery)
        return;
    const UserSources own = loadUserSources();
    addUserSources(own.urls, own.skipped, own.tooLarge);
    auto* discovery = new Tgetnewurl;
    discovery->FreeOnTerminate = true;
    discovery->CustomUrls = CustomUrls;
    discovery->ArticleUrls = ArticleUrls;
    discovery->keepAlive(m_custom);
    discovery->keepAlive(m_article);
    discovery->Start();
}

tdaili::~tdaili() = default;

void tdaili::addUserSources(const std::vector<std::string>& urls, int skipped, bool tooLarge) {
    for (const std::string& url : urls)
        CustomUrls->append(url);
    m_sourcesNote.clear();
    if (tooLarge)
        m_sourcesNote += gbk::text("（sources.txt 超过4 MiB，未读取）");
    if (skipped > 0)
        m_sourcesNote += gbk::text("（sources.txt 中有") + std::to_string(skipped) +
                         gbk::text("行无效，已跳过）");
}

void tdaili::startJob(SourceWorker* worker, const std::string& text) {
    if (!harvestAlive()) {
        // The window has closed (this runs inside its last command): start nothing new.
        delete worker;
        return;
    }
    std::weak_ptr<int> token = m_token;
    // The completion runs from the event loop, outside any command: an error in JobDone,
    // listtable or the validation it starts goes to the window's error report.
    worker->OnTerminate = [this, token](TWorkerThread*) {
        if (token.lock())
            m_host.runCommand([this] { JobDone(); });
    };
    worker->FreeOnTerminate = true;
    worker->Start();
    m_host.state().Busy = true;
    ++JobCount;
    if (!OnMessage)
        return;
    if (m_noteDue && !m_sourcesNote.empty()) {
        m_noteDue = false;
        OnMessage(text + m_sourcesNote);
        return;
    }
    m_noteDue = false;
    OnMessage(text);
}

void tdaili::StartCnp() {
    static const std::string text = gbk::text("正在从cnp下载，请稍候...");
    startJob(new tdowncnp(m_host), text);
}

void tdaili::StartProxycn() {
    static const std::string text = gbk::text("正在从proxycn下载，请稍候...");
    startJob(new Tproxycn(m_host), text);
}

void tdaili::StartHaozs() {
    if (ArticleUrls->count() < 1)
        return;
    auto* worker = new Tgethaozs(m_host);
    worker->UrlList = ArticleUrls;
    worker->keepAlive(m_article);
    static const std::string text = gbk::text("正在从haozs下载，请稍候...");
    startJob(worker, text);
}

void tdaili::StartProxynet() {
    static const std::string text = gbk::text("正在从proxynet网站下载，请稍候...");
    startJob(new Tproxynet(m_host), text);
}

void tdaili::StartRos() {
    static const std::string text = gbk::text("正在从rosinstrument网站下载，请稍候...");
    startJob(new tdownros(m_host), text);
}

void tdaili::StartProxylists() {
    static const std::string text = gbk::text("正在从proxylists网站下载，请稍候...");
    startJob(new Tproxylists(m_host), text);
}

void tdaili::StartAntipalivo() {
    static const std::string text = gbk::text("正在从antipalivo下载，请稍候...");
    startJob(new Tantipalivo(m_host), text);
}

void tdaili::StartUrlList() {
    if (CustomUrls->count() < 1)
        return;
    auto* worker = new Tdownurl(m_host);
    worker->UrlList = CustomUrls;
    worker->keepAlive(m_custom);
    static const std::string text = gbk::text("正在从特定网站下载地址，请稍候...");
    startJob(worker, text);
}

void tdaili::JobDone() {
    --JobCount;
    if (JobCount < 0)
        JobCount = 0;
    if (JobCount != 0)
        return;
    // The download command's status messages let completions run between its job starts: a
    // quick job may end before the next one has started. The harvest has not ended then;
    // the command finishes it once its last job has started.
    if (m_starting > 0) {
        m_endedWhileStarting = true;
        return;
    }
    finishHarvest();
}

void tdaili::finishHarvest() {
    // The window closed inside the download command: its table is no longer shown.
    if (!harvestAlive())
        return;
    // Cleared before listtable, not after it: listtable may start a validation run, which
    // sets Busy for as long as its checks are out.
    m_host.state().Busy = false;
    m_host.listtable();
}

void tdaili::beginStarts() {
    if (m_starting++ == 0) {
        m_endedWhileStarting = false;
        m_noteDue = true;
    }
}

void tdaili::endStarts() {
    if (--m_starting > 0)
        return;
    if (m_endedWhileStarting && JobCount == 0) {
        m_endedWhileStarting = false;
        finishHarvest();
    }
}

namespace {

void startJobs(MainHost& host, tdaili& daili) {
    cleartable(host.table());
    clearrows(host.grid());
    host.table().opentable();
    constexpr int kGap = 300;
    if (host.sourceGroupChecked(0)) {
        daili.StartCnp();
        host.pause(kGap);
        daili.StartProxycn();
        host.pause(kGap);
        daili.StartHaozs();
        host.pause(kGap);
    }
    if (host.sourceGroupChecked(1)) {
        daili.StartProxynet();
        host.pause(kGap);
        daili.StartRos();
        host.pause(kGap);
        daili.StartProxylists();
        host.pause(kGap);
        daili.StartAntipalivo();
        host.pause(kGap);
    }
    if (host.sourceGroupChecked(2))
        daili.StartUrlList();
}

}  // namespace

void actdownExecute(MainHost& host, tdaili& daili) {
    // The job starts are bracketed; see JobDone.
    daili.beginStarts();
    try {
        startJobs(host, daili);
    } catch (...) {
        daili.endStarts();
        throw;
    }
    daili.endStarts();
}

void actdwoncheckExecute(MainHost& host, tdaili& daili) {
    host.state().CheckAfterDown = true;
    actdownExecute(host, daili);
}

}  // namespace vorsa
