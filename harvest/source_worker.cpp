#include "harvest/source_worker.h"

#include "platform/page_download.h"
#include "platform/run_directory.h"
#include "platform/text_lines.h"

#include <cstdio>

namespace vorsa {

SourceWorker::SourceWorker(MainHost& host, SourceFields fields, std::string_view tag)
    : m_host(host), m_fields(fields), m_tag(tag) {}

SourceWorker::~SourceWorker() {
    if (!m_jobDir.empty()) {
        RunDirectory::instance().removeJobDirectory(m_jobDir);
    }
}

void SourceWorker::AppendRow(const HarvestRow& row) {
    ProxyTable& t = m_host.table();
    t.addrecord();
    t.setfield(Field::Ip, row.Ip);
    t.setfield(Field::Port, row.Port);
    if (m_fields.protocol)
        t.setfield(Field::Protocol, row.Protocol);
    if (m_fields.location)
        t.setfield(Field::Location, row.Location);
    t.postrecord();
}

void SourceWorker::handOver(const HarvestRow& row) {
    if (m_batch.capacity() == 0)
        m_batch.reserve(kBatchRows);
    HarvestRow& queued = m_batch.emplace_back();
    queued.Ip = row.Ip;
    queued.Port = row.Port;
    if (m_fields.protocol)
        queued.Protocol = row.Protocol;
    if (m_fields.location)
        queued.Location = row.Location;
    if (m_batch.size() >= kBatchRows)
        flushRows();
}

void SourceWorker::flushRows() {
    if (m_batch.empty())
        return;
    // Emptied before the hand-over: after an error or the shutdown nothing of it is sent again.
    std::vector<HarvestRow> batch;
    batch.swap(m_batch);
    Synchronize([&] {
        for (const HarvestRow& row : batch)
            AppendRow(row);
    });
    // Sent: the buffer takes the next rows.
    batch.clear();
    m_batch.swap(batch);
}

RowSink SourceWorker::rowSink() {
    return [this](const HarvestRow& row) { handOver(row); };
}

std::string SourceWorker::tempPath(std::string_view fileName) {
    if (m_jobDir.empty())
        m_jobDir = RunDirectory::instance().createJobDirectory(m_tag);
    return RunDirectory::filePath(m_jobDir, fileName);
}

std::string SourceWorker::downloadPage(const std::string& url, std::string_view fileName) {
    std::string path = tempPath(fileName);
    if (URLDownloadToFile(url, path) != 0)
        return {};
    return path;
}

std::vector<std::string> SourceWorker::loadLines(const std::string& path) {
    std::string bytes;
    if (!readFileBytes(path, bytes))
        return {};
    return splitLines(bytes);
}

void SourceWorker::deleteFile(const std::string& path) {
    if (!path.empty())
        std::remove(path.c_str());
}

}  // namespace vorsa
