#pragma once

#include "harvest/source_worker.h"

#include <string>
#include <vector>

namespace vorsa {

// Rows of one ros feed: the address:port titles of the items after the "</image>" line.
void parseRosLines(const std::vector<std::string>& lines, const RowSink& emit);

// The two XML feeds of the rosinstrument site.
class tdownros : public SourceWorker {
public:
    explicit tdownros(MainHost& host);

    void ParsePage(const std::string& path) override;

protected:
    void Execute() override;
};

}  // namespace vorsa
