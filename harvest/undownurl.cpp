#include "harvest/undownurl.h"

#include "platform/text_lines.h"

#include <QRegularExpression>
#include <QString>

namespace vorsa {

void parseDownurlLines(const std::vector<std::string>& lines, const RowSink& emit) {
    std::string joined;
    std::size_t total = 0;
    for (const std::string& line : lines)
        total += line.size() + 2;
    joined.reserve(total);
    for (const std::string& line : lines) {
        joined += line;
        joined += "\r\n";
    }
    // Latin-1 maps each byte to one character, so no GBK byte can pass for an ASCII digit and
    // match offsets stay byte offsets. Without the Unicode option \d is 0-9 only.
    // One per thread: several custom-URL workers parse at once, and QRegularExpression is
    // reentrant, not thread-safe.
    thread_local const QRegularExpression pattern(
        QStringLiteral("\\d+\\.\\d+\\.\\d+\\.\\d+\\:\\d+"));
    const QString text = QString::fromLatin1(joined.data(), static_cast<qsizetype>(joined.size()));
    QRegularExpressionMatchIterator it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const std::string found = joined.substr(static_cast<std::size_t>(match.capturedStart()),
                                                static_cast<std::size_t>(match.capturedLength()));
        const std::size_t colon = found.find(':');
        HarvestRow row;
        row.Ip = found.substr(0, colon);
        row.Port = found.substr(colon + 1);
        emit(row);
    }
}

Tdownurl::Tdownurl(MainHost& host) : SourceWorker(host, SourceFields{}, "xurl") {}

void Tdownurl::Execute() {
    if (!UrlList)
        return;
    // Entries that discovery adds after this point belong to the next harvest.
    const int n = UrlList->count();
    for (int i = 0; i < n; ++i) {
        const std::string path = downloadPage(UrlList->at(i), std::to_string(i) + ".xurl");
        if (!path.empty())
            ParsePage(path);
    }
}

void Tdownurl::ParsePage(const std::string& path) {
    if (!fileExists(path))
        return;
    parseDownurlLines(loadLines(path), rowSink());
    flushRows();
    deleteFile(path);
}

}  // namespace vorsa
