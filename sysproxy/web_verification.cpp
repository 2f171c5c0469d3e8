#include "sysproxy/web_verification.h"

#include "platform/hosts_config.h"
#include "platform/url_cache.h"
#include "table/main_host.h"

namespace vorsa {

std::string externalEchoUrl() {
    return hostBase("echo") + "/showip.asp";
}

std::string makerEchoUrl() {
    return hostBase("maker") + "/yourip.php";
}

std::string startupEchoUrl() {
    return hostBase("maker") + "/proxy/showip.asp";
}

void actvailExecute(MainHost& host, int& tag) {
    if (tag == 1) {
        host.navigate(makerEchoUrl());
        host.pause(150);
        delcache(externalEchoUrl());
        tag = 0;
    } else {
        host.navigate(externalEchoUrl());
        host.pause(150);
        delcache(makerEchoUrl());
        tag = 1;
    }
}

void delcache(const std::string& target) {
    UrlCache& cache = UrlCache::instance();
    UrlCache::Entry entry;
    const UrlCache::FindHandle find = cache.findFirst(entry);
    if (!find)
        return;
    do {
        if ((entry.type & UrlCache::NORMAL_CACHE_ENTRY) &&
            entry.sourceUrl.find(target) != std::string::npos)
            cache.deleteEntry(entry.sourceUrl);
    } while (cache.findNext(find, entry));
    cache.findClose(find);
}

}  // namespace vorsa
