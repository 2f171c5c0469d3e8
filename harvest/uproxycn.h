#pragma once

#include "harvest/source_worker.h"

#include <string>
#include <vector>

namespace vorsa {

// Rows of one proxycn list page: the address:port of each row's double-click handler.
void parseProxycnLines(const std::vector<std::string>& lines, const RowSink& emit);

// Six list pages of the proxycn site.
class Tproxycn : public SourceWorker {
public:
    explicit Tproxycn(MainHost& host);

    void ParsePage(const std::string& path) override;

protected:
    void Execute() override;
};

}  // namespace vorsa
