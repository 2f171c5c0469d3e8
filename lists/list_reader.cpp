#include "lists/list_reader.h"

#include "lists/import_export.h"
#include "platform/codec.h"
#include "platform/internet_settings.h"
#include "table/proxy_record.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace vorsa {

namespace {

// The address field's size: a longer host would be cut on its way into the table and the
// check would go to another host.
constexpr std::size_t kIpFieldBytes = 50;

}  // namespace

bool ListReader::usableLine(std::string_view line, std::string& ip, std::string& port) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    ip = gbk::trim(line.substr(0, colon));
    const std::string_view rest = line.substr(colon + 1);
    const auto exported = exportedRecord(rest);
    port = exported ? std::string(exported->port) : gbk::trim(rest);
    if (ip.empty() || port.empty() || ip.size() > kIpFieldBytes)
        return false;
    // The port is digits only; the address a plain host (never a bracketed IPv6 address, whose
    // colons the import's first-colon split cannot carry).
    int value = 0;
    const auto r = std::from_chars(port.data(), port.data() + port.size(), value);
    if (r.ec != std::errc() || r.ptr != port.data() + port.size() || value < 1 || value > 65535 ||
        port.front() == '+' || ip.front() == '[')
        return false;
    return parseProxyEntry(ip).has_value();
}

void ListReader::endLine(const Row& row) {
    ++m_counts.lines;
    if (m_overlong) {
        ++m_counts.skipped;
        ++m_counts.tooLong;
    } else if (!gbk::trim(m_line).empty() && !isExportHeading(m_line)) {
        std::string ip, port;
        if (usableLine(m_line, ip, port)) {
            ++m_counts.usable;
            row(ip, port);
        } else {
            ++m_counts.skipped;
        }
    }
    m_line.clear();
    m_overlong = false;
}

bool ListReader::read(int fd, const Row& row, std::string& error,
                      const std::function<bool()>& stop) {
    char buf[65536];
    bool pendingCr = false;  // the last byte was a CR: an LF right after it ends nothing
    bool open = false;       // a line has begun and not ended
    for (;;) {
        if (stop && stop())
            break;
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (got == 0)
            break;
        for (ssize_t i = 0; i < got; ++i) {
            const char c = buf[i];
            if (c == '\0') {
                m_counts.endedAtNul = true;
                if (open)
                    endLine(row);
                return true;
            }
            if (c == '\n' && pendingCr) {
                pendingCr = false;
                continue;
            }
            pendingCr = c == '\r';
            if (c == '\r' || c == '\n') {
                endLine(row);
                open = false;
                continue;
            }
            open = true;
            if (m_overlong)
                continue;
            if (m_line.size() >= kMaxLine) {
                m_overlong = true;
                m_line.clear();
                m_line.shrink_to_fit();
                continue;
            }
            m_line += c;
        }
    }
    if (open)
        endLine(row);
    return true;
}

}  // namespace vorsa
