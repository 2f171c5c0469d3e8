#pragma once

#include "sandbox/http_engine.h"
#include "sandbox/sandbox.h"

#include <map>
#include <string>
#include <vector>

namespace vorsa::sandbox {

// Every page of the simulated web. Built once, before the event thread starts, and only read
// afterwards, so serving needs no lock.
class Site {
public:
    Site(const Options& options, const std::vector<Proxy>& proxies, std::string baseUrl);

    HttpResponse handle(const HttpRequest& request, const std::string& peer) const;

    const std::vector<ExpectedRow>& expectedRows() const { return m_expected; }
    std::vector<std::string> expectedHarvest() const;

private:
    void addPage(const std::string& pathAndQuery, std::string body,
                 std::string contentType = "text/html; charset=gb2312");
    void buildLookupPages();
    void buildListSources();
    void buildPortals();
    std::string articlePage(const std::vector<std::string>& bodyLines) const;
    HttpResponse checkPage(const std::string& query, const std::string& peer) const;
    HttpResponse echoPage(const std::string& peer) const;
    HttpResponse locationPage(const std::string& query) const;

    const Options& m_options;
    const std::vector<Proxy>& m_proxies;
    std::string m_baseUrl;
    std::map<std::string, HttpResponse> m_pages;  // key: path, or path + "?" + query
    std::vector<ExpectedRow> m_expected;
    std::vector<std::string> m_synthetic;  // "ip:port" of the scaled lists
    std::vector<std::string> m_locations;  // GBK, picked per address
    std::string m_checkHead, m_checkTail, m_echoHead, m_echoTail;
    std::string m_locationHead, m_locationMarker, m_locationTail, m_noLocation;
};

}  // namespace vorsa::sandbox
