#pragma once

#include <curl/curl.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// The internals of the internet session layer: one transfer per request, and the one
// network thread that drives every asynchronous transfer through a curl multi handle.
namespace vorsa::net {

// One request on one easy handle, with at most bodyLimit body bytes kept.
class Transfer {
public:
    using Done = std::function<void(Transfer&)>;

    Transfer(CURL* easy, curl_slist* headers, std::size_t bodyLimit, Done done);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    CURL* easy() const { return m_easy; }
    // Records how curl ended the transfer and reads the status code.
    void finish(CURLcode result);
    void complete() {
        if (m_done)
            m_done(*this);
    }

    // The tick count (GetTickCount) when curl had ended the transfer: the moment the reply
    // was in, taken on the network side so that the time a result waits to be handled on
    // the main thread never counts.
    std::uint32_t doneTick() const { return m_doneTick; }

    // A status line came back (a refused, timed-out or garbled exchange has none).
    bool answered() const { return m_status > 0; }
    long status() const { return m_status; }
    std::string takeBody() { return std::move(m_body); }
    // The body broke off (not by our own stop at the limit) before any byte came.
    bool bodyFailed() const { return m_bodyFailed; }

private:
    static std::size_t onWrite(char* data, std::size_t size, std::size_t n, void* self);

    CURL* m_easy;
    curl_slist* m_headers;
    std::size_t m_bodyLimit;
    Done m_done;
    std::string m_body;
    bool m_stoppedAtLimit = false;
    long m_status = 0;
    bool m_bodyFailed = false;
    std::uint32_t m_doneTick = 0;
};

// Lives from its first use to the end of the process. Transfers still running when the
// process ends are dropped without a completion.
class NetworkThread {
public:
    static NetworkThread& instance();
    ~NetworkThread();

    // Any thread. The transfer's completion runs on the network thread, exactly once.
    void submit(std::unique_ptr<Transfer> transfer);

    std::size_t inFlight() const { return m_inFlight.load(std::memory_order_relaxed); }

private:
    NetworkThread();
    void run();

    CURLM* m_multi;
    std::mutex m_mutex;
    std::deque<std::unique_ptr<Transfer>> m_queue;
    bool m_stop = false;
    std::atomic<std::size_t> m_inFlight{0};
    std::thread m_thread;
};

// curl_global_init exactly once, before any handle.
void ensureCurlInitialised();

}  // namespace vorsa::net
