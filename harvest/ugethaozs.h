#pragma once

#include "harvest/source_worker.h"
#include "harvest/url_list.h"

#include <string>
#include <vector>

namespace vorsa {

// Rows of one haozs article page: three TD lines per row after the table's white header row.
// Values come from upper-cased lines, so their Latin letters are capitals.
void parseHaozsLines(const std::vector<std::string>& lines, const RowSink& emit);

// The article pages that discovery found on portal haozs (all but the first entry).
class Tgethaozs : public SourceWorker {
public:
    explicit Tgethaozs(MainHost& host);

    SharedUrlList* UrlList = nullptr;  // the coordinator's ArticleUrls, not owned

    void ParsePage(const std::string& path) override;

protected:
    void Execute() override;
};

}  // namespace vorsa
