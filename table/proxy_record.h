#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

}  // namespace vorsa
