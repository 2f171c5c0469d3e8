#pragma once

#include "table/main_host.h"

#include <QDateTime>
#include <QLocale>

#include <optional>
#include <string>
#include <string_view>

namespace vorsa {

// The export formats, by the save dialog's filter index.
enum ExportFormat { TextList = 1, HtmlTable = 2, CsvTable = 3, TextListLong = 4 };

struct ExportFilter {
    const char* labelUtf8;  // as the dialog shows it
    const char* pattern;    // "*.txt"
    const char* extension;  // forced onto the chosen name
};
// Format 1..4; any other number has no filter.
const ExportFilter* exportFilter(int format);

constexpr const char* kImportTitleUtf8 = "导入代理列表";
constexpr const char* kImportPattern = "*.txt";

// File names are the file system's own bytes (QFile::encodeName), not GBK.

// A record line of the text export, after its first ':' ("port@place#speedms", the port 1 to 5
// digits). The program's own saved lists, the autosave among them, read back as the proxies
// they hold; a line of any other form is read by the plain ip:port rule.
struct ExportedRecord {
    std::string_view port, place;
};
std::optional<ExportedRecord> exportedRecord(std::string_view afterColon);
// The heading line of the text export, which names no proxy.
bool isExportHeading(std::string_view line);

// Replaces the table with the ip:port lines of the file (and of our own text export). The file is
// read whole first: when it cannot be read this throws an error naming it and the table keeps what
// it had.
void importlist(ProxyTable& table, const std::string& fileName);

// Writes the table in format 1..4 (other numbers write nothing; an empty table creates no
// file). The new file is written beside the target and renamed over it, so a failed export
// throws and leaves an existing file as it was. now and locale give the date-time text.
void exportlist(ProxyTable& table, const std::string& fileName, int format,
                const QDateTime& now = QDateTime::currentDateTime(),
                const QLocale& locale = QLocale());

// Writes the table as a UTF-8 JSON array, one object per record with the keys ip, port
// (a number, or null when the text is no port), protocol, location (null when blank),
// verified and speed_ms (null when not set); written beside and renamed like exportlist, and
// an empty table creates no file either.
void exportjson(ProxyTable& table, const std::string& fileName);

// The user's short date, then a blank and the long time unless it is exactly midnight (GBK).
std::string exportDateTime(const QDateTime& now, const QLocale& locale);

// The name with the format's extension: the part after the last '.' of the last path
// component is replaced, or the extension appended when that component has no '.'.
std::string forceExtension(std::string_view fileName, int format);

// What the save dialog opens with: the format and the name chosen the time before.
struct ExportChoice {
    int format = TextList;
    std::string fileName;
};

// The import command once its dialog has given a name: an existing file is imported, then
// the grid is redrawn either way.
void importChosenFile(MainHost& host, const std::string& fileName);

// The export command once its dialog has given a name and a format: remembers both, trims
// the name, forces the extension and writes the file.
void exportChosenFile(ProxyTable& table, ExportChoice& remembered, const std::string& chosenName,
                      int format, const QDateTime& now = QDateTime::currentDateTime(),
                      const QLocale& locale = QLocale());

}  // namespace vorsa
