#pragma once

#include "harvest/url_list.h"
#include "harvest/worker_thread.h"

#include <string>
#include <string_view>
#include <vector>

namespace vorsa {

// base (the portal's "http://host[:port]") followed by path, written so that no link can move
// the request to another host: the path always opens with '/'; a second leading '/', '@', and
// every byte a URL path does not allow (backslash, space, control and non-ASCII bytes, a '%'
// not followed by two hex digits) are percent-encoded. One '?' query and one '#' fragment stay
// as they are. An empty path gives base.
std::string joinPortalLink(const std::string& base, std::string_view path);

// Article links of one portal list page. base is the portal's "http://host[:port]"; lines are
// the page's bytes (GBK) split into lines. A page without its marker gives nothing.
std::vector<std::string> parsePortalA(const std::vector<std::string>& lines,
                                      const std::string& base);
std::vector<std::string> parsePortalB(const std::vector<std::string>& lines,
                                      const std::string& base);
std::vector<std::string> parsePortalC(const std::vector<std::string>& lines,
                                      const std::string& base);
// Up to seven links, from the marker line on; used for both class pages of portal D.
std::vector<std::string> parsePortalD(const std::vector<std::string>& lines,
                                      const std::string& base);

// Reads the four portals once at start-up and appends the links it finds: portals A to C to
// CustomUrls, portal D to ArticleUrls.
class Tgetnewurl : public TWorkerThread {
    Q_OBJECT
public:
    Tgetnewurl() = default;
    ~Tgetnewurl() override;

    SharedUrlList* CustomUrls = nullptr;   // not owned
    SharedUrlList* ArticleUrls = nullptr;  // not owned

protected:
    void Execute() override;

private:
    std::string m_jobDir;
};

}  // namespace vorsa
