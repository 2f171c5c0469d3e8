#include "lists/location_lookup.h"

#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "platform/offline_geo.h"
#include "platform/run_directory.h"
#include "platform/text_lines.h"
#include "table/grid_routines.h"

#include <stdexcept>

namespace vorsa {

namespace {

DownloadLimits makeLookupLimits() {
    DownloadLimits limits;
    limits.connectTimeoutMs = 5000;
    limits.totalTimeoutMs = 10000;
    limits.stallSeconds = 5;
    limits.maxBytes = 1 << 20;  // an answer page is a few kilobytes
    return limits;
}

DownloadLimits g_lookupLimits = makeLookupLimits();

// Removes the lookup's job folder, and the answer in it, however the lookup ends.
class JobFolder {
public:
    JobFolder() : m_path(RunDirectory::instance().createJobDirectory("iplookup")) {}
    ~JobFolder() { RunDirectory::instance().removeJobDirectory(m_path); }
    JobFolder(const JobFolder&) = delete;
    JobFolder& operator=(const JobFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace

DownloadLimits lookupLimits() {
    return g_lookupLimits;
}

void setLookupLimits(const DownloadLimits& limits) {
    g_lookupLimits = limits;
}

std::string ipcityUrl(const std::string& base, std::string_view ip) {
    static const char hex[] = "0123456789ABCDEF";
    std::string url = base + "/ips.asp?ip=";
    for (const char ch : ip) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == ':') {
            url += ch;
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url + "&action=2";
}

std::string locationFromPage(std::string_view page) {
    static const std::string marker =
        "<td align=\"center\"><ul class=\"ul1\"><li>" + gbk::text("本站主数据");
    static const std::string colon = gbk::text("：");
    const std::vector<std::string> lines = splitLines(page);
    const long long count = static_cast<long long>(lines.size());
    long long i = count >= 2 ? count - 1 : 0;
    for (long long k = 0; k + 1 < count; ++k) {
        if (lines[std::size_t(k)].find(marker) != std::string::npos) {
            i = k;
            break;
        }
    }
    // The marker line counts only with at least four lines after it.
    if (!(i < count - 4))
        return {};
    const std::string& line = lines[std::size_t(i)];
    const auto c = line.find(colon);
    if (c == std::string::npos)
        return {};
    const auto start = c + colon.size();
    const auto end = line.find("</li>");
    if (end == std::string::npos || end < start)
        return {};
    return line.substr(start, end - start);
}

std::string ipcity(const std::string& ip) {
    JobFolder job;
    const std::string file = RunDirectory::filePath(job.path(), ip + ".ip");
    if (URLDownloadToFile(ipcityUrl(hostBase("iplookup"), ip), file, lookupLimits()) != 0)
        return {};
    std::string page;
    if (!readFileBytes(file, page))
        throw std::runtime_error(gbk::text("无法读取地址查询的结果：") + ip);
    return locationFromPage(page);
}

void getcity(MainHost& host) {
    ProxyTable& table = host.table();
    table.opentable();
    table.gofirst();
    static const std::string unknown = gbk::text("未知");
    static const std::string status = gbk::text("正在获取地址：");
    // Status texts let other commands run; they may move the cursor or empty the table, and
    // the walk goes on from wherever the cursor then is.
    while (table.count() > 0) {
        if (gbk::trim(table.getfield(Field::Location)).empty()) {
            const std::string ip = table.getfield(Field::Ip);
            std::string place = gbk::trim(ipcity(ip));
            // What the site does not know may still be in an offline database; asked with the
            // same untrimmed Ip text as the site.
            if (place.empty())
                place = gbk::trim(offlineLocation(ip));
            if (place.empty())
                place = unknown;
            table.editrecord();
            table.setfield(Field::Location, place);
            table.postrecord();
            host.showinfo(status + ip);
            host.pause(10);
        }
        if (table.count() == 0 || table.recno() == table.count())
            break;
        table.gonext();
    }
    refreshgrid(host);
}

}  // namespace vorsa
