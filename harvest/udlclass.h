#pragma once

#include "harvest/url_list.h"
#include "table/main_host.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorsa {

class SourceWorker;
class TWorkerThread;

// The harvest coordinator: starts one counted job per source and, when the last one has
// completed, hands the filled table to listtable. Main thread only.
class tdaili {
public:
    // Starts article-link discovery unless told not to (tests fill the lists themselves).
    // With discovery, the user's sources.txt URLs go into CustomUrls first.
    explicit tdaili(MainHost& host, bool startDiscovery = true);
    ~tdaili();
    tdaili(const tdaili&) = delete;
    tdaili& operator=(const tdaili&) = delete;

    std::int32_t JobCount = 0;
    // Receives the job-start messages (GBK); unbound, nothing is sent.
    std::function<void(const std::string&)> OnMessage;

    // Filled by discovery; shared with the workers that read them, so an abandoned worker
    // never reads a freed list.
    SharedUrlList* const CustomUrls;
    SharedUrlList* const ArticleUrls;

    // Adds the user's list URLs to CustomUrls and remembers what was wrong with the files, for
    // the first status message of each harvest.
    void addUserSources(const std::vector<std::string>& urls, int skipped, bool tooLarge);

    void StartCnp();
    void StartProxycn();
    void StartHaozs();
    void StartProxynet();
    void StartRos();
    void StartProxylists();
    void StartAntipalivo();
    void StartUrlList();

    // Completion of every job.
    void JobDone();

    // The download command brackets its job starts with these: a harvest whose jobs all
    // ended before the last start is finished (listtable) when the starts are over. Commands
    // nest (one can run inside another's status messages), so the brackets are counted.
    void beginStarts();
    void endStarts();

private:
    void finishHarvest();

    void startJob(SourceWorker* worker, const std::string& message);

    MainHost& m_host;
    std::shared_ptr<SharedUrlList> m_custom;
    std::shared_ptr<SharedUrlList> m_article;
    // Completions of workers that outlive this object find the token gone and do nothing.
    std::shared_ptr<int> m_token;
    int m_starting = 0;         // download commands that are still starting jobs
    std::string m_sourcesNote;  // appended to a harvest's first job-start message
    bool m_noteDue = false;
    bool m_endedWhileStarting = false;
};

// "下载代理列表": empties the table and the grid, then starts the checked source groups.
void actdownExecute(MainHost& host, tdaili& daili);
// "下载并验证": the same, validating once the harvest has ended.
void actdwoncheckExecute(MainHost& host, tdaili& daili);

}  // namespace vorsa
