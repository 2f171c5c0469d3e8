#pragma once
// A minimal MaxMind DB writer for tests: an IPv4 search tree of 24-bit records, a data section
// of maps, strings and integers, and the metadata libmaxminddb requires.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vorsa::test::mmdb {

inline std::string control(int type, std::size_t size) {
    std::string out;
    const auto first = [&](unsigned low) {
        out.push_back(char(((type <= 7 ? type : 0) << 5) | int(low)));
        if (type > 7)
            out.push_back(char(type - 7));
    };
    if (size < 29) {
        first(unsigned(size));
    } else {
        first(29);
        out.push_back(char(size - 29));  // up to 284 bytes: enough for a test
    }
    return out;
}
inline std::string str(const std::string& s) {
    return control(2, s.size()) + s;
}
inline std::string uint(int type, int bytes, std::uint64_t v) {
    std::string out = control(type, std::size_t(bytes));
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(char((v >> (8 * i)) & 0xff));
    return out;
}
inline std::string u16(std::uint16_t v) {
    return uint(5, 2, v);
}
inline std::string u32(std::uint32_t v) {
    return uint(6, 4, v);
}
inline std::string u64(std::uint64_t v) {
    return uint(9, 8, v);
}
// Values are already encoded.
inline std::string map(const std::vector<std::pair<std::string, std::string>>& kv) {
    std::string out = control(7, kv.size());
    for (const auto& [k, v] : kv)
        out += str(k) + v;
    return out;
}
inline std::string array(const std::vector<std::string>& items) {
    std::string out = control(11, items.size());
    for (const auto& i : items)
        out += i;
    return out;
}
// {"names": {"en": en, "zh-CN": zh}} without the empty ones, plus extra fields.
inline std::string names(const std::string& en, const std::string& zh,
                         std::vector<std::pair<std::string, std::string>> extra = {}) {
    std::vector<std::pair<std::string, std::string>> n;
    if (!en.empty())
        n.emplace_back("en", str(en));
    if (!zh.empty())
        n.emplace_back("zh-CN", str(zh));
    if (!n.empty())
        extra.emplace_back("names", map(n));
    return map(extra);
}

struct Network {
    std::uint32_t prefix;  // host order, e.g. 0x08080800 for 8.8.8.0
    int length;            // 1..32
    std::string data;      // one encoded value (usually a map)
    // A record that points this far past the data section: a damaged tree.
    std::uint32_t bogusOffset = 0;
};

inline std::string database(const std::vector<Network>& networks) {
    constexpr std::uint32_t kEmpty = 0xffffffff;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> nodes{{kEmpty, kEmpty}};
    std::string data;
    // Leaves first hold an index into leafOffset (tagged), made data pointers once the node
    // count is known.
    std::vector<std::uint32_t> leafOffset;
    for (const Network& net : networks) {
        const std::uint32_t offset = net.bogusOffset ? std::uint32_t(data.size()) + net.bogusOffset
                                                     : std::uint32_t(data.size());
        data += net.data;
        std::size_t cur = 0;
        for (int i = 0; i < net.length; ++i) {
            const bool right = (net.prefix >> (31 - i)) & 1;
            const auto record = [&]() -> std::uint32_t& {
                return right ? nodes[cur].second : nodes[cur].first;
            };
            if (i == net.length - 1) {
                record() = 0x80000000u | std::uint32_t(leafOffset.size());
                leafOffset.push_back(offset);
                break;
            }
            if (record() == kEmpty || (record() & 0x80000000u)) {
                nodes.push_back({kEmpty, kEmpty});  // may move the nodes: record() again below
                record() = std::uint32_t(nodes.size() - 1);
            }
            cur = record();
        }
    }
    const auto count = std::uint32_t(nodes.size());
    const auto value = [&](std::uint32_t rec) -> std::uint32_t {
        if (rec == kEmpty)
            return count;
        if (rec & 0x80000000u)
            return count + 16 + leafOffset[rec & 0x7fffffffu];
        return rec;
    };
    std::string out;
    for (const auto& [l, r] : nodes)
        for (const std::uint32_t v : {value(l), value(r)})
            for (int i = 2; i >= 0; --i)
                out.push_back(char((v >> (8 * i)) & 0xff));
    out += std::string(16, '\0') + data;
    out += "\xAB\xCD\xEFMaxMind.com";
    out += map({{"binary_format_major_version", u16(2)},
                {"binary_format_minor_version", u16(0)},
                {"build_epoch", u64(1700000000)},
                {"database_type", str("Vorsa-Test-City")},
                {"description", map({{"en", str("test")}})},
                {"ip_version", u16(4)},
                {"languages", array({str("en"), str("zh-CN")})},
                {"node_count", u32(count)},
                {"record_size", u16(24)}});
    return out;
}

}  // namespace vorsa::test::mmdb
