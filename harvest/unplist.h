#pragma once

#include "harvest/source_worker.h"

#include <string>
#include <string_view>
#include <vector>

namespace vorsa {

// Ip is the text before the first ':' and Port the rest after it, later colons included.
// Without a colon the whole text is the address and the port is empty.
HarvestRow splitAddressPort(std::string_view text);

// Rows of one plain-text list: every line that holds a ':'.
void parseProxylistsLines(const std::vector<std::string>& lines, const RowSink& emit);

// The two plain-text lists of the proxylists site.
class Tproxylists : public SourceWorker {
public:
    explicit Tproxylists(MainHost& host);

    void ParsePage(const std::string& path) override;

protected:
    void Execute() override;
};

}  // namespace vorsa
