#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vorsa {

// The six fields of a proxy, in their order. Each has a key (the GBK text a file or a
// caller names it by) and, for text fields, a size in GBK bytes.
enum class Field { Ip, Port, Protocol, Location, Verified, Speed };

constexpr int kFieldCount = 6;

enum class FieldType { Text, Flag, Integer };

struct FieldDef {
    Field field;
    const char* keyUtf8;  // "IP地址", "端口", ... as written in the source
    FieldType type;
    std::size_t size;  // bytes for text fields, 0 otherwise
};

const FieldDef& fieldDef(Field f);

// The field's key as GBK bytes ("IP地址" and so on).
const std::string& fieldKey(Field f);

// The field whose GBK key is key; nullopt for an unknown key.
std::optional<Field> fieldByKey(std::string_view key);

// One proxy. A field without a value (never written) is nullopt; an empty text is a value.
struct ProxyRecord {
    std::optional<std::string> Ip;
    std::optional<std::string> Port;
    std::optional<std::string> Protocol;
    std::optional<std::string> Location;
    std::optional<bool> Verified;
    std::optional<std::int32_t> Speed;

    bool isNull(Field f) const;
    // Text of a field: empty without a value; Verified reads "True" or "False", Speed as
    // a decimal number.
    std::string text(Field f) const;
    // Writes a text field, cut to its size; Speed takes decimal text (throws on anything else);
    // Verified takes "True"/"False" (case-insensitive) or "1"/"0".
    void setText(Field f, std::string_view value);
};

// A stored record: an immutable copy of a ProxyRecord in one compact allocation (a small
// header and the four texts back to back), shared by the table and the grid rows drawn from
// it. Copies share the allocation; a change is stored as a new PackedRecord, so a holder
// keeps the values it was given. Not thread-safe: main thread only, like the table.
// Texts longer than 255 bytes are cut (the table cuts every text to its field size first).
class PackedRecord {
public:
    PackedRecord() = default;
    explicit PackedRecord(const ProxyRecord& r);
    PackedRecord(const PackedRecord& o) noexcept;
    PackedRecord(PackedRecord&& o) noexcept : m_blob(o.m_blob) { o.m_blob = nullptr; }
    PackedRecord& operator=(const PackedRecord& o) noexcept {
        PackedRecord copy(o);
        std::swap(m_blob, copy.m_blob);
        return *this;
    }
    // Cheap enough for the table's blocks, which shift records on every insert.
    PackedRecord& operator=(PackedRecord&& o) noexcept {
        if (this != &o) {
            if (m_blob)
                release();
            m_blob = o.m_blob;
            o.m_blob = nullptr;
        }
        return *this;
    }
    ~PackedRecord() {
        if (m_blob)
            release();
    }

    // False for a default-constructed one (no record).
    explicit operator bool() const { return m_blob != nullptr; }

    ProxyRecord unpack() const;
    bool isNull(Field f) const;
    // A text field's bytes; empty without a value.
    std::string_view view(Field f) const;
    // As ProxyRecord::text.
    std::string text(Field f) const;
    std::optional<bool> verified() const;
    std::optional<std::int32_t> speed() const;

private:
    struct Blob;
    void release() noexcept;

    Blob* m_blob = nullptr;
};

// Call once at the start, before any thread. Fixes the allocator's thresholds: a heap whose
// free top exceeds 8 MiB gives it back when a block is freed (the workers' heaps too), and
// blocks of 32 MiB and more get a mapping of their own. With the defaults both thresholds
// grow after the first large free, and a worker's freed page could stay at the top of its
// thread's heap, out of releaseFreeMemory's reach (some harvests then kept 60 MB more).
void returnLargeBlocksWhenFreed();

// Gives the heap's free pages back to the system. Called after large parts of the table or
// the grid were dropped: freed rows otherwise stay with the process.
void releaseFreeMemory();

}  // namespace vorsa
