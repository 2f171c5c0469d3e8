#pragma once

#include "harvest/source_worker.h"
#include "harvest/url_list.h"

#include <string>
#include <vector>

namespace vorsa {

// Every address:port text of a page (lines joined with CR LF), leftmost match first, each
// search going on right after the previous match. Digits are ASCII only; no range check.
void parseDownurlLines(const std::vector<std::string>& lines, const RowSink& emit);

// The custom-URL source: every page that discovery put into CustomUrls.
class Tdownurl : public SourceWorker {
    Q_OBJECT
public:
    explicit Tdownurl(MainHost& host);

    SharedUrlList* UrlList = nullptr;  // the coordinator's CustomUrls, not owned

    void ParsePage(const std::string& path) override;

protected:
    void Execute() override;
};

}  // namespace vorsa
