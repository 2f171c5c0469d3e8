#pragma once

#include <cstdint>

namespace vorsa {

// A 32-bit millisecond tick count that wraps around after about 49.7 days. Differences are
// taken modulo 2^32: uint32_t(later - earlier).
class TickSource {
public:
    virtual ~TickSource() = default;
    virtual std::uint32_t ticks() const = 0;
};

// The tick count of the steady clock, in milliseconds, truncated to 32 bits.
std::uint32_t GetTickCount();

// Tests put their own source in place (nullptr restores the clock). Read on the main thread
// (a check's start) and on the network thread (the moment its reply is in), so a source must
// be safe to read from any thread.
void setTickSource(const TickSource* source);

}  // namespace vorsa
