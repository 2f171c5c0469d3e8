#include "table/proxy_record.h"

#include "platform/codec.h"

#include <array>
#include <charconv>
#include <cstring>
#include <new>
#include <stdexcept>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vorsa {
namespace {

constexpr std::array<FieldDef, kFieldCount> kFields{{
    {Field::Ip, "IP地址", FieldType::Text, 50},
    {Field::Port, "端口", FieldType::Text, 8},
    {Field::Protocol, "协议", FieldType::Text, 10},
    {Field::Location, "位置", FieldType::Text, 40},
    {Field::Verified, "验证", FieldType::Flag, 0},
    {Field::Speed, "速度", FieldType::Integer, 0},
}};

const std::array<std::string, kFieldCount>& gbkKeys() {
    static const std::array<std::string, kFieldCount> keys = [] {
        std::array<std::string, kFieldCount> k;
        for (std::size_t i = 0; i < kFields.size(); ++i)
            k[i] = gbk::text(kFields[i].keyUtf8);
        return k;
    }();
    return keys;
}

std::optional<std::string>* textSlot(ProxyRecord& r, Field f) {
    switch (f) {
        case Field::Ip:
            return &r.Ip;
        case Field::Port:
            return &r.Port;
        case Field::Protocol:
            return &r.Protocol;
        case Field::Location:
            return &r.Location;
        default:
            return nullptr;
    }
}

}  // namespace

const FieldDef& fieldDef(Field f) {
    return kFields[static_cast<std::size_t>(f)];
}

const std::string& fieldKey(Field f) {
    return gbkKeys()[static_cast<std::size_t>(f)];
}

std::optional<Field> fieldByKey(std::string_view key) {
    const auto& keys = gbkKeys();
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (keys[i] == key)
            return kFields[i].field;
    return std::nullopt;
}

bool ProxyRecord::isNull(Field f) const {
    switch (f) {
        case Field::Ip:
            return !Ip;
        case Field::Port:
            return !Port;
        case Field::Protocol:
            return !Protocol;
        case Field::Location:
            return !Location;
        case Field::Verified:
            return !Verified;
        case Field::Speed:
            return !Speed;
    }
    return true;
}

std::string ProxyRecord::text(Field f) const {
    switch (f) {
        case Field::Verified:
            return Verified ? (*Verified ? "True" : "False") : std::string();
        case Field::Speed:
            return Speed ? std::to_string(*Speed) : std::string();
        default: {
            const auto* slot = textSlot(const_cast<ProxyRecord&>(*this), f);
            return *slot ? **slot : std::string();
        }
    }
}

void ProxyRecord::setText(Field f, std::string_view value) {
    switch (f) {
        case Field::Verified: {
            const std::string v = gbk::toLowerAscii(value);
            if (v == "true" || v == "1")
                Verified = true;
            else if (v == "false" || v == "0")
                Verified = false;
            else if (v.empty())
                Verified.reset();
            else
                throw std::invalid_argument("'" + std::string(value) +
                                            "' is not a valid boolean value");
            return;
        }
        case Field::Speed: {
            if (value.empty()) {
                Speed.reset();
                return;
            }
            std::int32_t n = 0;
            const char* end = value.data() + value.size();
            auto [p, ec] = std::from_chars(value.data() + (value[0] == '+' ? 1 : 0), end, n);
            if (ec != std::errc() || p != end)
                throw std::invalid_argument("'" + std::string(value) +
                                            "' is not a valid integer value");
            Speed = n;
            return;
        }
        default:
            *textSlot(*this, f) = gbk::cut(value, fieldDef(f).size);
    }
}

// Header of a packed record; the texts follow it, in field order, without separators.
struct PackedRecord::Blob {
    std::uint32_t refs;
    std::int32_t speed;
    std::uint8_t len[4];
    std::uint8_t flags;  // kHas* bits and kVerifiedTrue

    static constexpr std::uint8_t kHasVerified = 1u << 4;
    static constexpr std::uint8_t kHasSpeed = 1u << 5;
    static constexpr std::uint8_t kVerifiedTrue = 1u << 6;

    const char* text() const { return reinterpret_cast<const char*>(this) + sizeof(Blob); }
    char* text() { return reinterpret_cast<char*>(this) + sizeof(Blob); }
};

namespace {

constexpr std::size_t kMaxPackedText = 255;

const std::optional<std::string>& textOf(const ProxyRecord& r, int i) {
    switch (i) {
        case 0:
            return r.Ip;
        case 1:
            return r.Port;
        case 2:
            return r.Protocol;
        default:
            return r.Location;
    }
}

}  // namespace

PackedRecord::PackedRecord(const ProxyRecord& r) {
    std::size_t lens[4];
    std::size_t total = 0;
    for (int i = 0; i < 4; ++i) {
        const auto& t = textOf(r, i);
        lens[i] = t ? std::min(t->size(), kMaxPackedText) : 0;
        total += lens[i];
    }
    void* mem = ::operator new(sizeof(Blob) + total);
    auto* b = new (mem) Blob{};
    b->refs = 1;
    char* out = b->text();
    for (int i = 0; i < 4; ++i) {
        const auto& t = textOf(r, i);
        if (!t)
            continue;
        b->flags |= static_cast<std::uint8_t>(1u << i);
        b->len[i] = static_cast<std::uint8_t>(lens[i]);
        std::memcpy(out, t->data(), lens[i]);
        out += lens[i];
    }
    if (r.Verified) {
        b->flags |= Blob::kHasVerified;
        if (*r.Verified)
            b->flags |= Blob::kVerifiedTrue;
    }
    if (r.Speed) {
        b->flags |= Blob::kHasSpeed;
        b->speed = *r.Speed;
    }
    m_blob = b;
}

PackedRecord::PackedRecord(const PackedRecord& o) noexcept : m_blob(o.m_blob) {
    if (m_blob)
        ++m_blob->refs;
}

void PackedRecord::release() noexcept {
    if (--m_blob->refs == 0) {
        m_blob->~Blob();
        ::operator delete(m_blob);
    }
    m_blob = nullptr;
}

bool PackedRecord::isNull(Field f) const {
    if (!m_blob)
        return true;
    switch (f) {
        case Field::Verified:
            return !(m_blob->flags & Blob::kHasVerified);
        case Field::Speed:
            return !(m_blob->flags & Blob::kHasSpeed);
        default:
            return !(m_blob->flags & (1u << static_cast<int>(f)));
    }
}

std::string_view PackedRecord::view(Field f) const {
    const int i = static_cast<int>(f);
    if (!m_blob || i > 3)
        return {};
    std::size_t offset = 0;
    for (int k = 0; k < i; ++k)
        offset += m_blob->len[k];
    return {m_blob->text() + offset, m_blob->len[i]};
}

std::optional<bool> PackedRecord::verified() const {
    if (isNull(Field::Verified))
        return std::nullopt;
    return (m_blob->flags & Blob::kVerifiedTrue) != 0;
}

std::optional<std::int32_t> PackedRecord::speed() const {
    if (isNull(Field::Speed))
        return std::nullopt;
    return m_blob->speed;
}

std::string PackedRecord::text(Field f) const {
    switch (f) {
        case Field::Verified: {
            const auto v = verified();
            return v ? (*v ? "True" : "False") : std::string();
        }
        case Field::Speed: {
            const auto v = speed();
            return v ? std::to_string(*v) : std::string();
        }
        default:
            return std::string(view(f));
    }
}

ProxyRecord PackedRecord::unpack() const {
    ProxyRecord r;
    if (!m_blob)
        return r;
    for (Field f : {Field::Ip, Field::Port, Field::Protocol, Field::Location})
        if (!isNull(f))
            *textSlot(r, f) = std::string(view(f));
    r.Verified = verified();
    r.Speed = speed();
    return r;
}

void returnLargeBlocksWhenFreed() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
#endif
}

void releaseFreeMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace vorsa
