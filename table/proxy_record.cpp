#include "table/proxy_record.h"

#include "platform/codec.h"

#include <array>
#include <charconv>
#include <stdexcept>

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

}  // namespace vorsa
