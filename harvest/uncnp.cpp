#include "harvest/uncnp.h"

#include "harvest/ufun.h"
#include "platform/hosts_config.h"
#include "platform/text_lines.h"

#include <charconv>

namespace vorsa {

namespace {

constexpr std::string_view kHeader =
    "<tr><td width=\"140\">IP:Port</td><td width=\"40\">Type</td><td width=\"90\">Speed</td>"
    "<td width=\"160\"> Country/Area</td></tr>";

struct LetterCode {
    std::string_view code;
    std::string_view digit;
};

// Order matters: the page's script is decoded by these replacements one after another.
constexpr LetterCode kLetterCodes[] = {{"+r", "8"}, {"+d", "0"}, {"+z", "3"}, {"+m", "4"},
                                       {"+k", "2"}, {"+l", "9"}, {"+b", "5"}, {"+i", "7"},
                                       {"+w", "6"}, {"+c", "1"}};

constexpr int kDefaultPort = 80;

// A whole decimal integer (optional sign, digits only, in 32-bit range), else nothing.
bool readDecimal(std::string_view text, int& value) {
    bool plus = !text.empty() && text.front() == '+';
    if (plus)
        text.remove_prefix(1);
    if (text.empty() || (plus && text.front() == '-'))
        return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

}  // namespace

int DecodeCnpPort(std::string_view script) {
    std::string text(script);
    for (const LetterCode& lc : kLetterCodes)
        text = ReplaceAll(text, lc.code, lc.digit);
    const std::size_t quoted = text.find("\":\"");
    if (quoted == std::string::npos)
        return kDefaultPort;
    // The last character is the closing parenthesis of the script call.
    const std::size_t from = quoted + 3;
    if (text.size() < from + 1)
        return kDefaultPort;
    int port = 0;
    if (!readDecimal(std::string_view(text).substr(from, text.size() - 1 - from), port))
        return kDefaultPort;
    return port;
}

void parseCnpLines(const std::vector<std::string>& lines, const RowSink& emit) {
    const std::size_t count = lines.size();
    if (count < 2)
        return;
    // The first and the last line never hold the header or a row.
    std::size_t i = 1;
    while (i < count - 1 && lines[i] != kHeader)
        ++i;
    if (i >= count - 1)
        return;
    for (++i; i < count - 1; ++i) {
        if (lines[i] == "</table>")
            break;
        std::string line = lines[i];
        const std::string script = GetTag(line, "SCRIPT");
        HarvestRow row;
        row.Ip = GetTag(line, "td");
        row.Protocol = GetTag(line, "td");
        GetTag(line, "td");  // speed, not kept
        row.Location = GetTag(line, "td");
        row.Port = std::to_string(DecodeCnpPort(script));
        emit(row);
    }
}

tdowncnp::tdowncnp(MainHost& host) : SourceWorker(host, SourceFields{true, true}, "cnp") {}

void tdowncnp::Execute() {
    const std::string base = hostBase("cnp");
    for (int n = 1; n <= 10; ++n) {
        const std::string n_text = std::to_string(n);
        const std::string path = downloadPage(base + "/proxy" + n_text + ".html", n_text + ".cnp");
        if (path.empty())
            continue;
        ParsePage(path);
    }
}

void tdowncnp::ParsePage(const std::string& path) {
    if (!fileExists(path))
        return;
    parseCnpLines(loadLines(path), rowSink());
    flushRows();
    if (fileExists(path))
        deleteFile(path);
}

}  // namespace vorsa
