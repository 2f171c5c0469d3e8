#include "tick_count.h"

#include <atomic>
#include <chrono>

namespace vorsa {
namespace {
std::atomic<const TickSource*> g_source{nullptr};
}

std::uint32_t GetTickCount() {
    if (const TickSource* s = g_source.load(std::memory_order_acquire))
        return s->ticks();
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

void setTickSource(const TickSource* source) {
    g_source.store(source, std::memory_order_release);
}

}  // namespace vorsa
