#include "harvest/url_list.h"

namespace vorsa {

int SharedUrlList::count() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_urls.size());
}

std::string SharedUrlList::at(int i) const {
    std::lock_guard lock(m_mutex);
    if (i < 0 || static_cast<std::size_t>(i) >= m_urls.size())
        return {};
    return m_urls[static_cast<std::size_t>(i)];
}

void SharedUrlList::append(std::string url) {
    std::lock_guard lock(m_mutex);
    m_urls.push_back(std::move(url));
}

std::vector<std::string> SharedUrlList::snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_urls;
}

}  // namespace vorsa
