#include "platform/network_thread.h"

#include "platform/tick_count.h"

#include <unordered_map>
#include <vector>

namespace vorsa::net {

void ensureCurlInitialised() {
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

Transfer::Transfer(CURL* easy, curl_slist* headers, std::size_t bodyLimit, Done done)
    : m_easy(easy), m_headers(headers), m_bodyLimit(bodyLimit), m_done(std::move(done)) {
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_PRIVATE, this);
}

Transfer::~Transfer() {
    curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headers);
}

std::size_t Transfer::onWrite(char* data, std::size_t size, std::size_t n, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const std::size_t bytes = size * n;
    const std::size_t room = t->m_bodyLimit - t->m_body.size();
    if (bytes < room) {
        t->m_body.append(data, bytes);
        return bytes;
    }
    // Enough is here: keep what fits and end the transfer. curl then reports a write error,
    // which finish() does not count against the answer.
    t->m_body.append(data, room);
    t->m_stoppedAtLimit = true;
    return 0;
}

void Transfer::finish(CURLcode result) {
    m_doneTick = GetTickCount();
    long code = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &code);
    m_status = code;
    const bool ok = result == CURLE_OK || (result == CURLE_WRITE_ERROR && m_stoppedAtLimit);
    m_bodyFailed = !ok && m_body.empty();
}

NetworkThread& NetworkThread::instance() {
    static NetworkThread thread;
    return thread;
}

NetworkThread::NetworkThread() {
    ensureCurlInitialised();
    m_multi = curl_multi_init();
    m_thread = std::thread([this] { run(); });
}

NetworkThread::~NetworkThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    curl_multi_wakeup(m_multi);
    if (m_thread.joinable())
        m_thread.join();
    curl_multi_cleanup(m_multi);
}

void NetworkThread::submit(std::unique_ptr<Transfer> transfer) {
    m_inFlight.fetch_add(1, std::memory_order_relaxed);
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(transfer));
    }
    curl_multi_wakeup(m_multi);
}

void NetworkThread::run() {
    std::unordered_map<CURL*, std::unique_ptr<Transfer>> running;
    std::vector<std::unique_ptr<Transfer>> incoming;
    auto completeOne = [this](std::unique_ptr<Transfer> t) {
        t->complete();
        t.reset();
        m_inFlight.fetch_sub(1, std::memory_order_relaxed);
    };
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                break;
            while (!m_queue.empty()) {
                incoming.push_back(std::move(m_queue.front()));
                m_queue.pop_front();
            }
        }
        for (auto& t : incoming) {
            CURL* easy = t->easy();
            if (curl_multi_add_handle(m_multi, easy) != CURLM_OK) {
                t->finish(CURLE_FAILED_INIT);
                completeOne(std::move(t));
                continue;
            }
            running.emplace(easy, std::move(t));
        }
        incoming.clear();

        int stillRunning = 0;
        curl_multi_perform(m_multi, &stillRunning);
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(m_multi, &queued)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            CURL* easy = msg->easy_handle;
            const CURLcode result = msg->data.result;
            auto it = running.find(easy);
            curl_multi_remove_handle(m_multi, easy);
            if (it == running.end())
                continue;
            std::unique_ptr<Transfer> t = std::move(it->second);
            running.erase(it);
            t->finish(result);
            completeOne(std::move(t));
        }
        curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
    }
    for (auto& [easy, t] : running)
        curl_multi_remove_handle(m_multi, easy);
}

}  // namespace vorsa::net
