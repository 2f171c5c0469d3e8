#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace vorsa {

// A list of URLs that the discovery thread appends to while the main thread and the workers
// read it. Every access takes the list's lock.
class SharedUrlList {
public:
    int count() const;
    // Entry i; "" for an index outside the list.
    std::string at(int i) const;
    void append(std::string url);
    std::vector<std::string> snapshot() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_urls;
};

}  // namespace vorsa
