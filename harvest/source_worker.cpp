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

void SourceWorker::AppendRow() {
    ProxyTable& t = m_host.table();
    t.addrecord();
    t.setfield(Field::Ip, Ip);
    t.setfield(Field::Port, Port);
    if (m_fields.protocol)
        t.setfield(Field::Protocol, Protocol);
    if (m_fields.location)
        t.setfield(Field::Location, Location);
    t.postrecord();
}

void SourceWorker::handOver() {
    Synchronize([this] { AppendRow(); });
}

void SourceWorker::handOver(const HarvestRow& row) {
    Ip = row.Ip;
    Port = row.Port;
    if (m_fields.protocol)
        Protocol = row.Protocol;
    if (m_fields.location)
        Location = row.Location;
    handOver();
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
