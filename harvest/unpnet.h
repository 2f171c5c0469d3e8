#pragma once

#include "harvest/source_worker.h"

#include <string>
#include <vector>

namespace vorsa {

// Rows of one proxynet list page: seven lines per row, the first four holding the TD cells
// of address, port, protocol and location. Values come out with capital Latin letters.
void parseProxynetLines(const std::vector<std::string>& lines, const RowSink& emit);

// Five list pages of the proxynet site.
class Tproxynet : public SourceWorker {
public:
    explicit Tproxynet(MainHost& host);

    void ParsePage(const std::string& path) override;

protected:
    void Execute() override;
};

}  // namespace vorsa
