#include "url_cache.h"

#include <algorithm>

namespace vorsa {

UrlCache& UrlCache::instance() {
    static UrlCache cache;
    return cache;
}

void UrlCache::record(const std::string& url, std::uint32_t type) {
    std::lock_guard lock(m_mutex);
    m_deleted.erase(url);
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const Entry& e) { return e.sourceUrl == url; });
    if (it != m_entries.end())
        it->type = type;
    else
        m_entries.push_back({url, type});
}

UrlCache::FindHandle UrlCache::findFirst(Entry& entry) {
    std::lock_guard lock(m_mutex);
    if (m_entries.empty())
        return 0;
    entry = m_entries.front();
    // A snapshot: deleting entries while enumerating neither skips nor repeats any.
    const FindHandle h = m_nextHandle++;
    m_finds.emplace(h, std::make_pair(m_entries, std::size_t{1}));
    return h;
}

bool UrlCache::findNext(FindHandle handle, Entry& entry) {
    std::lock_guard lock(m_mutex);
    auto it = m_finds.find(handle);
    if (it == m_finds.end())
        return false;
    auto& [entries, next] = it->second;
    if (next >= entries.size())
        return false;
    entry = entries[next++];
    return true;
}

void UrlCache::findClose(FindHandle handle) {
    std::lock_guard lock(m_mutex);
    m_finds.erase(handle);
}

bool UrlCache::deleteEntry(const std::string& sourceUrl) {
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const Entry& e) { return e.sourceUrl == sourceUrl; });
    if (it == m_entries.end())
        return false;
    m_entries.erase(it);
    m_deleted.insert(sourceUrl);
    return true;
}

bool UrlCache::needsReload(const std::string& url) const {
    std::lock_guard lock(m_mutex);
    return m_deleted.count(url) != 0;
}

void UrlCache::clear() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_deleted.clear();
    m_finds.clear();
}

}  // namespace vorsa
