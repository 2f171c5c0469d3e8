#include "harvest/unantipalivo.h"

#include "harvest/ufun.h"
#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "platform/text_lines.h"

#include <QRegularExpression>
#include <QString>

namespace vorsa {

namespace {

constexpr std::string_view kHeaderMarker = "<td align=\"center\" colspan=\"5\">HTTP</td></tr>";
constexpr std::string_view kDecodeOpen = "decode(\"";
constexpr std::string_view kDecodeClose = "\");</script>";
// The page's footer: its scripts and ads fill the last lines.
constexpr std::size_t kTailLines = 210;

struct CharCode {
    std::string_view code;
    std::string_view digit;
};

// The code of digit d is the decimal text of d + 49, replaced in this order.
constexpr CharCode kCharCodes[] = {{"49", "0"}, {"50", "1"}, {"51", "2"}, {"52", "3"}, {"53", "4"},
                                   {"54", "5"}, {"55", "6"}, {"56", "7"}, {"57", "8"}, {"58", "9"}};

}  // namespace

std::string DecodeAntiPort(std::string_view line) {
    const std::size_t open = line.find(kDecodeOpen);
    const std::size_t close = line.find(kDecodeClose);
    if (open == std::string_view::npos || close == std::string_view::npos ||
        close < open + kDecodeOpen.size())
        return {};
    std::string text(line.substr(open + kDecodeOpen.size(), close - open - kDecodeOpen.size()));
    for (const CharCode& cc : kCharCodes)
        text = ReplaceAll(text, cc.code, cc.digit);
    return ReplaceAll(text, ",", "");
}

std::string findDottedAddress(std::string_view line) {
    // Without the Unicode option \d is an ASCII digit. Latin-1 keeps one character per byte,
    // and no GBK trail byte is a digit or a dot, so offsets stay byte offsets.
    thread_local const QRegularExpression pattern(QStringLiteral("\\d+\\.\\d+\\.\\d+\\.\\d+"));
    const QString text = QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return {};
    return std::string(line.substr(static_cast<std::size_t>(match.capturedStart()),
                                   static_cast<std::size_t>(match.capturedLength())));
}

void parseAntipalivoLines(const std::vector<std::string>& lines, const RowSink& emit) {
    const std::size_t count = lines.size();
    if (count <= kTailLines)
        return;
    const std::size_t end = count - kTailLines;
    std::size_t marker = 0;
    while (marker < count && lines[marker].find(kHeaderMarker) == std::string::npos)
        ++marker;
    if (marker >= count)
        return;
    for (std::size_t i = marker + 2; i < end; ++i) {
        const std::string lower = gbk::toLowerAscii(lines[i]);
        HarvestRow row;
        row.Ip = findDottedAddress(lower);
        if (row.Ip.empty())
            return;
        row.Port = DecodeAntiPort(lower);
        emit(row);
    }
}

Tantipalivo::Tantipalivo(MainHost& host)
    : SourceWorker(host, SourceFields{false, false}, "antipalivo") {}

void Tantipalivo::Execute() {
    const std::string path = downloadPage(hostBase("antipalivo") + "/proxy/list", "x.anti");
    if (!path.empty())
        ParsePage(path);
}

void Tantipalivo::ParsePage(const std::string& path) {
    if (!fileExists(path))
        return;
    parseAntipalivoLines(loadLines(path), rowSink());
    flushRows();
    if (fileExists(path))
        deleteFile(path);
}

}  // namespace vorsa
