#include "lists/import_export.h"

#include "platform/codec.h"
#include "platform/text_lines.h"
#include "table/grid_routines.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <optional>
#include <stdexcept>

namespace vorsa {

namespace {

const ExportFilter kFilters[4] = {
    {"文本(IP:PORT)", "*.txt", ".txt"},
    {"*.html", "*.html", ".html"},
    {"*.csv", "*.csv", ".csv"},
    {"文本(IP:PORT 位置 延时)", "*.txt", ".txt"},
};

// A file name for messages, in the program's code page.
std::string displayName(const std::string& fileName) {
    return gbk::fromUnicode(QFile::decodeName(QByteArray::fromStdString(fileName)));
}

[[noreturn]] void fail(const char* whatUtf8, const std::string& fileName) {
    throw std::runtime_error(gbk::text(whatUtf8) + displayName(fileName) + gbk::text("”。"));
}

// Writes in blocks to a new file beside the target; commit() renames it over the target.
// Dropped without commit, it removes what it wrote and leaves the target alone.
class ReplacingFile {
public:
    explicit ReplacingFile(const std::string& target) : m_target(target) {
        const auto slash = target.rfind('/');
        const std::string dir =
            slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            m_temp = dir + "." + base + ".part-" +
                     std::to_string(QRandomGenerator::global()->generate() & 0xFFFFFF);
            // 0666 before the umask: the mode a plain create would give.
            m_fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
        if (m_fd < 0)
            fail("无法创建文件“", target);
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::fchmod(m_fd, st.st_mode & 07777);
        m_buffer.reserve(kBlock + 4096);
    }
    ~ReplacingFile() {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_committed)
            ::unlink(m_temp.c_str());
    }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    std::string& buffer() { return m_buffer; }
    void flushIfFull() {
        if (m_buffer.size() >= kBlock)
            flush();
    }
    void commit() {
        flush();
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0 || ::rename(m_temp.c_str(), m_target.c_str()) != 0)
            fail("无法写入文件“", m_target);
        m_committed = true;
    }

private:
    static constexpr std::size_t kBlock = 1 << 20;

    void flush() {
        std::size_t done = 0;
        while (done < m_buffer.size()) {
            const ssize_t w = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                fail("无法写入文件“", m_target);
            done += static_cast<std::size_t>(w);
        }
        m_buffer.clear();
    }

    std::string m_target;
    std::string m_temp;
    std::string m_buffer;
    int m_fd = -1;
    bool m_committed = false;
};

void appendSpeed(std::string& out, const ProxyRecord& rec) {
    if (!rec.Speed)
        return;
    char digits[16];
    const auto r = std::to_chars(digits, digits + sizeof digits, *rec.Speed);
    out.append(digits, r.ptr);
}

const std::string& unknownPlace() {
    static const std::string text = gbk::text("未知");
    return text;
}

// Ip ":" Port "@" location "#" speed "ms"
void appendTextLine(std::string& out, const ProxyRecord& rec) {
    if (rec.Ip)
        out += *rec.Ip;
    out += ':';
    if (rec.Port)
        out += *rec.Port;
    out += '@';
    const std::string place = rec.Location ? gbk::trim(*rec.Location) : std::string();
    out += place.empty() ? unknownPlace() : place;
    out += '#';
    appendSpeed(out, rec);
    out += "ms\r\n";
}

// Addresses come from web pages: markup in them must stay text in the exported page.
void appendHtmlEscaped(std::string& out, const std::optional<std::string>& text) {
    if (!text)
        return;
    for (const char c : *text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
}

void appendHtmlLine(std::string& out, const ProxyRecord& rec) {
    out += "<tr><td>";
    appendHtmlEscaped(out, rec.Ip);
    out += ':';
    appendHtmlEscaped(out, rec.Port);
    out += "</td><td>";
    appendSpeed(out, rec);
    out += "</td></tr>\r\n";
}

// Q(x): x in double quotes, inner double quotes doubled.
void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// A stored text in a CSV cell: '%' escapes NUL, LF, CR and itself, then Q().
void appendCsvText(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '\0':
                out += "%0";
                break;
            case '\n':
                out += "%n";
                break;
            case '\r':
                out += "%c";
                break;
            case '%':
                out += "%%";
                break;
            case '"':
                out += "\"\"";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

void appendCsvLine(std::string& out, const ProxyRecord& rec) {
    const std::optional<std::string>* texts[4] = {&rec.Ip, &rec.Port, &rec.Protocol, &rec.Location};
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            out += ',';
        if (*texts[i])
            appendCsvText(out, **texts[i]);
    }
    out += ',';
    if (rec.Verified)
        out += *rec.Verified ? "\"True\"" : "\"False\"";
    out += ',';
    if (rec.Speed) {
        out += '"';
        appendSpeed(out, rec);
        out += '"';
    }
    out += ",\r\n";
}

std::string csvHead() {
    struct Def {
        Field field;
        const char* type;
        int size;
        int width;
    };
    const Def defs[kFieldCount] = {
        {Field::Ip, "String", 50, 50},       {Field::Port, "String", 8, 8},
        {Field::Protocol, "String", 10, 10}, {Field::Location, "String", 40, 40},
        {Field::Verified, "Boolean", 0, 5},  {Field::Speed, "Integer", 0, 10},
    };
    std::string out = "\"@@FILE VERSION@@\",\"251\"\r\n\"@@TABLEDEF START@@\"\r\n";
    for (const Def& d : defs) {
        std::string line = fieldKey(d.field) + "=" + d.type + "," + std::to_string(d.size) + ",";
        appendQuoted(line, fieldKey(d.field));
        line += ",";
        appendQuoted(line, "");
        line += "," + std::to_string(d.width) + ",Data,";
        appendQuoted(line, "");
        appendQuoted(out, line);
        out += "\r\n";
    }
    out += "\"@@INDEXDEF START@@\"\r\n\"@@INDEXDEF END@@\"\r\n\"@@TABLEDEF END@@\"\r\n";
    for (int i = 0; i < kFieldCount; ++i) {
        appendQuoted(out, fieldKey(static_cast<Field>(i)));
        out += ',';
    }
    out += "\r\n";
    return out;
}

// A GBK text as a JSON string (UTF-8; controls, quotes and backslashes escaped).
void appendJsonString(std::string& out, const std::string& gbkText) {
    static const char hex[] = "0123456789abcdef";
    const QByteArray utf8 = gbk::toUnicode(gbkText).toUtf8();
    out += '"';
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    out += '"';
}

void appendJsonText(std::string& out, const std::optional<std::string>& text) {
    const std::string trimmed = text ? gbk::trim(*text) : std::string();
    if (trimmed.empty())
        out += "null";
    else
        appendJsonString(out, trimmed);
}

void appendJsonLine(std::string& out, const ProxyRecord& rec, bool last) {
    out += "{\"ip\":";
    appendJsonString(out, rec.Ip ? gbk::trim(*rec.Ip) : std::string());
    out += ",\"port\":";
    const std::string port = rec.Port ? gbk::trim(*rec.Port) : std::string();
    int value = 0;
    const auto parsed = std::from_chars(port.data(), port.data() + port.size(), value);
    if (!port.empty() && parsed.ec == std::errc() && parsed.ptr == port.data() + port.size() &&
        value >= 1 && value <= 65535)
        out += std::to_string(value);
    else
        out += "null";
    out += ",\"protocol\":";
    appendJsonText(out, rec.Protocol);
    out += ",\"location\":";
    appendJsonText(out, rec.Location);
    out += ",\"verified\":";
    out += rec.Verified ? (*rec.Verified ? "true" : "false") : "null";
    out += ",\"speed_ms\":";
    if (rec.Speed)
        appendSpeed(out, rec);
    else
        out += "null";
    out += last ? "}\n" : "},\n";
}

// The locale's long time without its time-zone part ("t"): the time of day with seconds.
QString longTimeFormat(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't') {
            out += c;
            continue;
        }
        while (i + 1 < format.size() && format.at(i + 1) == u't')
            ++i;
        if (out.endsWith(u' '))
            out.chop(1);
        else if (i + 1 < format.size() && format.at(i + 1) == u' ')
            ++i;
    }
    return out.trimmed();
}

}  // namespace

const ExportFilter* exportFilter(int format) {
    if (format < 1 || format > 4)
        return nullptr;
    return &kFilters[format - 1];
}

bool isExportHeading(std::string_view line) {
    static const std::string heading = gbk::text("Vorsa智能代理最新验证:");
    return line.starts_with(heading);
}

std::optional<ExportedRecord> exportedRecord(std::string_view rest) {
    const auto at = rest.find('@');
    const auto hash = rest.rfind('#');
    if (at == std::string_view::npos || at == 0 || at > 5 || hash == std::string_view::npos ||
        hash < at || !rest.ends_with("ms"))
        return std::nullopt;
    const auto digits = [](std::string_view t) {
        return std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::string_view port = rest.substr(0, at);
    const std::string_view speed = rest.substr(hash + 1, rest.size() - hash - 3);
    if (!digits(port) || !digits(speed))
        return std::nullopt;
    return ExportedRecord{port, rest.substr(at + 1, hash - at - 1)};
}

std::string exportDateTime(const QDateTime& now, const QLocale& locale) {
    QString text = locale.toString(now.date(), locale.dateFormat(QLocale::ShortFormat));
    if (now.time() != QTime(0, 0))
        text += u' ' + locale.toString(now.time(), longTimeFormat(locale));
    return gbk::fromUnicode(text);
}

void importlist(ProxyTable& table, const std::string& fileName) {
    std::string bytes;
    if (!readFileBytes(fileName, bytes))
        fail("无法读取文件“", fileName);
    const auto nul = bytes.find('\0');
    if (nul != std::string::npos)
        bytes.resize(nul);
    cleartable(table);
    table.opentable();
    forEachLine(bytes, [&table](std::string_view line) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || isExportHeading(line))
            return;
        const std::string_view rest = line.substr(colon + 1);
        const auto exported = exportedRecord(rest);
        table.addrecord();
        table.setfield(Field::Ip, line.substr(0, colon));
        table.setfield(Field::Port, exported ? exported->port : rest);
        if (exported && exported->place != unknownPlace())
            table.setfield(Field::Location, exported->place);
        table.postrecord();
    });
}

void exportlist(ProxyTable& table, const std::string& fileName, int format, const QDateTime& now,
                const QLocale& locale) {
    if (!exportFilter(format) || table.count() == 0)
        return;
    ReplacingFile file(fileName);
    std::string& out = file.buffer();
    table.opentable();
    table.gofirst();
    const int n = table.count();
    switch (format) {
        case HtmlTable:
            out += "<html><head><title>";
            out += "Vorsa智能代理最新验证，   时间：";  // the one UTF-8 text of the exports
            out += exportDateTime(now, locale);
            out += "</title></head><body><table><tr><td>" + gbk::text("IP:端口") + "</td><td>" +
                   gbk::text("速度(ms)") + "</td></tr>\r\n";
            break;
        case CsvTable:
            out += csvHead();
            break;
        default:
            out += gbk::text("Vorsa智能代理最新验证:") + exportDateTime(now, locale) + "\r\n";
    }
    for (int i = 0; i < n; ++i) {
        const ProxyRecord& rec = table.current();
        if (format == HtmlTable)
            appendHtmlLine(out, rec);
        else if (format == CsvTable)
            appendCsvLine(out, rec);
        else
            appendTextLine(out, rec);
        file.flushIfFull();
        table.gonext();
    }
    if (format == HtmlTable)
        out += "</table></body></html>\r\n";
    file.commit();
}

void exportjson(ProxyTable& table, const std::string& fileName) {
    if (table.count() == 0)
        return;
    ReplacingFile file(fileName);
    std::string& out = file.buffer();
    table.opentable();
    table.gofirst();
    const int n = table.count();
    out += "[\n";
    for (int i = 0; i < n; ++i) {
        appendJsonLine(out, table.current(), i + 1 == n);
        file.flushIfFull();
        table.gonext();
    }
    out += "]\n";
    file.commit();
}

std::string forceExtension(std::string_view fileName, int format) {
    const ExportFilter* filter = exportFilter(format);
    std::string name(fileName);
    if (!filter)
        return name;
    const auto slash = name.rfind('/');
    const auto start = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot >= start)
        name.resize(dot);
    return name + filter->extension;
}

void importChosenFile(MainHost& host, const std::string& fileName) {
    if (fileExists(fileName))
        importlist(host.table(), fileName);
    refreshgrid(host);
}

void exportChosenFile(ProxyTable& table, ExportChoice& remembered, const std::string& chosenName,
                      int format, const QDateTime& now, const QLocale& locale) {
    remembered.format = format;
    remembered.fileName = chosenName;
    exportlist(table, forceExtension(gbk::trim(chosenName), format), format, now, locale);
}

}  // namespace vorsa
