#include "check_settings.h"

#include "codec.h"
#include "hosts_config.h"

#include <QString>

#include <mutex>
#include <optional>

namespace vorsa {

namespace {

std::mutex g_mutex;
std::optional<CheckSettings> g_settings;

// http:// or https://, a usable host part, then nothing a request line could not carry.
bool usableCheckUrl(const std::string& url) {
    if (url.size() > 2048)
        return false;
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= ' ' || c >= 0x7f)
            return false;
    }
    const auto scheme = url.find("://");
    if (scheme == std::string::npos)
        return false;
    const auto rest = url.find_first_of("/?#", scheme + 3);
    return !normalisedHostBase(url.substr(0, rest)).empty();
}

}  // namespace

CheckSettings defaultCheckSettings() {
    CheckSettings s;
    s.url = hostBase("iplookup") + "/ip2city.asp";
    s.marker = gbk::text("您的IP地址");
    s.bytes = 120;
    return s;
}

CheckSettings makeCheckSettings(const std::string* url, const std::string* markerUtf8,
                                const std::string* bytes) {
    CheckSettings s = defaultCheckSettings();
    const CheckSettings defaults = s;
    if (url) {
        if (usableCheckUrl(*url))
            s.url = *url;
        else
            s.problems.push_back(
                gbk::text("检测页设置无效：url 须是带主机名的 http:// 或 https:// 地址"));
    }
    if (bytes) {
        std::size_t n = 0;
        bool ok = !bytes->empty() && bytes->size() <= 8;
        for (const char c : *bytes)
            ok = ok && c >= '0' && c <= '9';
        if (ok)
            for (const char c : *bytes)
                n = n * 10 + std::size_t(c - '0');
        if (ok && n >= 1 && n <= kMaxCheckBytes)
            s.bytes = n;
        else
            s.problems.push_back(gbk::text("检测页设置无效：bytes 须是 1 到 1048576 之间的整数"));
    }
    if (markerUtf8) {
        const QString text = QString::fromUtf8(markerUtf8->data(), qsizetype(markerUtf8->size()));
        const std::string gbkMarker = gbk::fromUnicode(text);
        // Text that is not valid UTF-8, or has no GBK form, would never be found again.
        const bool roundTrips = !gbkMarker.empty() && gbk::toUnicode(gbkMarker) == text &&
                                text.toUtf8().toStdString() == *markerUtf8;
        if (markerUtf8->empty())
            s.problems.push_back(gbk::text("检测页设置无效：marker 不能为空"));
        else if (!roundTrips)
            s.problems.push_back(
                gbk::text("检测页设置无效：marker 须是可用 GBK 表示的 UTF-8 文字"));
        else
            s.marker = gbkMarker;
    }
    if (s.marker.size() > s.bytes) {
        s.problems.push_back(gbk::text("检测页设置无效：marker 比读取的字节数 bytes 还长"));
        s.marker = defaults.marker;
        s.bytes = defaults.bytes;
    }
    for (std::string& p : s.problems)
        p += gbk::text("，已改用默认值");
    return s;
}

CheckSettings checkSettings() {
    std::lock_guard lock(g_mutex);
    if (!g_settings) {
        const auto url = hostsFileValue("check", "url");
        const auto marker = hostsFileValue("check", "marker");
        const auto bytes = hostsFileValue("check", "bytes");
        g_settings = makeCheckSettings(url ? &*url : nullptr, marker ? &*marker : nullptr,
                                       bytes ? &*bytes : nullptr);
    }
    return *g_settings;
}

void reloadCheckSettings() {
    std::lock_guard lock(g_mutex);
    g_settings.reset();
}

}  // namespace vorsa
