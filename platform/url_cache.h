#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace vorsa {

// The cache of pages the browser panel has loaded, enumerated and pruned the way the URL
// cache of the desktop's web stack is. The panel records each page it shows; a delete makes
// the panel fetch that page from the network the next time instead of showing a stored copy.
// One per process; every operation is locked and may be called from any thread.
class UrlCache {
public:
    static constexpr std::uint32_t NORMAL_CACHE_ENTRY = 1;

    struct Entry {
        std::string sourceUrl;
        std::uint32_t type = NORMAL_CACHE_ENTRY;
    };
    using FindHandle = std::uint64_t;  // 0: no enumeration

    static UrlCache& instance();

    // The panel loaded url (again): it has a stored copy, and no reload is owed any more.
    void record(const std::string& url, std::uint32_t type = NORMAL_CACHE_ENTRY);

    // Starts an enumeration over the entries as they are now, in the order they were first
    // recorded. 0 and entry untouched when the cache is empty.
    FindHandle findFirst(Entry& entry);
    // The next entry; false after the last one, or for a handle that is not open.
    bool findNext(FindHandle handle, Entry& entry);
    void findClose(FindHandle handle);

    // Removes the entry of exactly this source URL; false when there is none.
    bool deleteEntry(const std::string& sourceUrl);

    // Whether the page's stored copy was deleted since the panel last loaded it, so the next
    // load must go to the network.
    bool needsReload(const std::string& url) const;

    void clear();  // tests

private:
    UrlCache() = default;

    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    std::set<std::string> m_deleted;
    std::map<FindHandle, std::pair<std::vector<Entry>, std::size_t>> m_finds;
    FindHandle m_nextHandle = 1;
};

}  // namespace vorsa
