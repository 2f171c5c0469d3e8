#pragma once

#include "harvest/worker_thread.h"
#include "table/main_host.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorsa {

// One proxy as a parser finds it; fields a source does not read stay empty.
struct HarvestRow {
    std::string Ip;
    std::string Port;
    std::string Protocol;
    std::string Location;
};

using RowSink = std::function<void(const HarvestRow&)>;

// Which of the optional cells a source writes into the table.
struct SourceFields {
    bool protocol = false;
    bool location = false;
};

// The base of every proxy-list source: a worker that downloads pages into its own job folder,
// parses them and hands the rows to the main thread, where AppendRow adds each to the table.
// Rows travel in batches: the worker collects up to kBatchRows, hands them over in one step and
// waits until the main thread appended them, in order. A batch also goes over at the end of
// every page and when the body ends, so no row waits behind a download. An error from the
// append ends the worker: the rows after the failing one are dropped.
class SourceWorker : public TWorkerThread {
    Q_OBJECT
public:
    // tag names the job folder ("cnp", "ros", ...): a fixed ASCII name, never web text.
    SourceWorker(MainHost& host, SourceFields fields, std::string_view tag = "job");
    ~SourceWorker() override;

    static constexpr std::size_t kBatchRows = 2048;

    // Main thread: addrecord, the row's fields, postrecord.
    void AppendRow(const HarvestRow& row);

    // One downloaded page: load it, parse it, hand every row over.
    virtual void ParsePage(const std::string& path) = 0;

protected:
    // Queues the row (the cells this source writes); a full batch is handed over at once.
    void handOver(const HarvestRow& row);
    // A sink for the pure parsers: every row is handed over as it is found.
    RowSink rowSink();
    // Hands the queued rows over and blocks until AppendRow ran for them. ParsePage ends with
    // it; the body's end does it too.
    void flushRows();
    void flushPending() override { flushRows(); }

    // Downloads url into fileName inside this job's folder (created on first use). The full
    // path on success, "" on failure (the page is then skipped).
    std::string downloadPage(const std::string& url, std::string_view fileName);
    // Full path of fileName in this job's folder.
    std::string tempPath(std::string_view fileName);
    // The file as lines (CR, LF or CR LF); empty when it cannot be read.
    static std::vector<std::string> loadLines(const std::string& path);
    // Removes a temp file; a missing file is no error.
    static void deleteFile(const std::string& path);

    MainHost& host() { return m_host; }

private:
    MainHost& m_host;
    SourceFields m_fields;
    std::string m_tag;
    std::string m_jobDir;
    std::vector<HarvestRow> m_batch;
};

}  // namespace vorsa
