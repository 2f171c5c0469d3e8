#pragma once

#include "harvest/source_worker.h"

#include <string>
#include <string_view>
#include <vector>

namespace vorsa {

// The port of a cnp row: its script writes the digits as letter variables after a quoted
// colon. 80 when the script holds no readable number.
int DecodeCnpPort(std::string_view script);

// Rows of one cnp list page: the table after its exact header line, one row per line.
void parseCnpLines(const std::vector<std::string>& lines, const RowSink& emit);

// Ten numbered list pages of the cnp site.
class tdowncnp : public SourceWorker {
public:
    explicit tdowncnp(MainHost& host);

    void ParsePage(const std::string& path) override;

protected:
    void Execute() override;
};

}  // namespace vorsa
