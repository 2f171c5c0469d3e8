#pragma once

#include "harvest/source_worker.h"

#include <string>
#include <string_view>
#include <vector>

namespace vorsa {

// The port written by a row's decode("...") call: each digit as the character code of the
// digit plus one, codes separated by commas. Empty when the call is missing or unclosed;
// the result is not checked for being a number.
std::string DecodeAntiPort(std::string_view line);

// The leftmost IPv4-like text (four digit runs joined by dots) of a line, or empty.
std::string findDottedAddress(std::string_view line);

// Rows of the antipalivo list page: one per line below the HTTP header, up to the first
// line without an address; the page's last 210 lines are never read.
void parseAntipalivoLines(const std::vector<std::string>& lines, const RowSink& emit);

// The one list page of the antipalivo site.
class Tantipalivo : public SourceWorker {
public:
    explicit Tantipalivo(MainHost& host);

    void ParsePage(const std::string& path) override;

protected:
    void Execute() override;
};

}  // namespace vorsa
