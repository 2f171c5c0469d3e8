#include "offline_geo.h"

#include "codec.h"
#include "hosts_config.h"
#include "text_lines.h"

#include <GeoIP.h>
#include <maxminddb.h>

#include <QString>

#include <arpa/inet.h>
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

namespace vorsa {

namespace {

// Names out of a database are untrusted: no control characters, and no more than a field holds.
std::string cleanUtf8(const char* data, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i < size && out.size() < 120; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c >= 0x20 && c != 0x7f)
            out.push_back(char(c));
    }
    return out;
}

std::string toGbk(const std::string& utf8) {
    return gbk::fromUnicode(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
}

bool regularFileUpTo(const std::string& path, off_t maxBytes) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_size > 0 && st.st_size <= maxBytes;
}

std::uint32_t moWord(const std::string& mo, std::size_t at, bool swapped) {
    std::uint32_t v = 0;
    std::memcpy(&v, mo.data() + at, 4);
    return swapped ? __builtin_bswap32(v) : v;
}

// A gettext catalogue: msgid -> msgstr, both UTF-8. A damaged file gives what could be read.
std::map<std::string, std::string> readMoCatalogue(const std::string& path) {
    std::map<std::string, std::string> out;
    std::string mo;
    if (!regularFileUpTo(path, 16 << 20) || !readFileBytes(path, mo) || mo.size() < 28)
        return out;
    const bool swapped = moWord(mo, 0, false) != 0x950412deu;
    if (swapped && moWord(mo, 0, true) != 0x950412deu)
        return out;
    const std::uint64_t count = moWord(mo, 8, swapped);
    const std::uint64_t originals = moWord(mo, 12, swapped);
    const std::uint64_t translations = moWord(mo, 16, swapped);
    const auto text = [&](std::uint64_t table, std::uint64_t i) -> std::optional<std::string> {
        const std::uint64_t entry = table + i * 8;
        if (entry + 8 > mo.size())
            return std::nullopt;
        const std::uint64_t len = moWord(mo, std::size_t(entry), swapped);
        const std::uint64_t off = moWord(mo, std::size_t(entry + 4), swapped);
        if (off + len > mo.size())
            return std::nullopt;
        return mo.substr(std::size_t(off), std::size_t(len));
    };
    for (std::uint64_t i = 0; i < count && i < 100000; ++i) {
        const auto id = text(originals, i);
        const auto str = text(translations, i);
        if (!id || !str)
            break;
        out.emplace(*id, *str);
    }
    return out;
}

std::string unescapeXml(std::string s) {
    static const std::pair<const char*, const char*> entities[] = {
        {"&apos;", "'"}, {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
    for (const auto& [from, to] : entities)
        for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + 1))
            s.replace(at, std::strlen(from), to);
    return s;
}

std::string attribute(std::string_view entry, std::string_view name) {
    // A leading blank keeps "name" from matching "common_name" or "official_name".
    const std::string key = std::string(" ") + std::string(name) + "=\"";
    std::size_t at = std::string_view::npos;
    for (std::size_t p = entry.find(key.substr(1)); p != std::string_view::npos;
         p = entry.find(key.substr(1), p + 1))
        if (p > 0 && (entry[p - 1] == ' ' || entry[p - 1] == '\t' || entry[p - 1] == '\n')) {
            at = p;
            break;
        }
    if (at == std::string_view::npos)
        return {};
    const auto start = at + key.size() - 1;
    const auto end = entry.find('"', start);
    return end == std::string_view::npos
               ? std::string()
               : unescapeXml(std::string(entry.substr(start, end - start)));
}

// Two-letter code -> English name, from iso-codes' iso_3166-1.xml.
std::map<std::string, std::string> readIsoNames(const std::string& path) {
    std::map<std::string, std::string> out;
    std::string xml;
    if (!regularFileUpTo(path, 16 << 20) || !readFileBytes(path, xml))
        return out;
    const std::string_view all(xml);
    for (auto at = all.find("<iso_3166_entry"); at != std::string_view::npos;
         at = all.find("<iso_3166_entry", at + 1)) {
        const auto end = all.find("/>", at);
        if (end == std::string_view::npos)
            break;
        const std::string_view entry = all.substr(at, end - at);
        const std::string code = attribute(entry, "alpha_2_code");
        const std::string name = attribute(entry, "name");
        if (code.size() == 2 && !name.empty())
            out.emplace(code, name);
    }
    return out;
}

bool validAddress(const std::string& ip) {
    unsigned char buf[16];
    return ip.size() < 64 && (::inet_pton(AF_INET, ip.c_str(), buf) == 1 ||
                              ::inet_pton(AF_INET6, ip.c_str(), buf) == 1);
}

}  // namespace

struct OfflineGeo::Impl {
    std::vector<MMDB_s> mmdbs;
    GeoIP* geoip = nullptr;
    std::map<std::string, std::string> isoNames;     // code -> English
    std::map<std::string, std::string> zhCatalogue;  // English -> Chinese

    std::string mmdbString(MMDB_lookup_result_s& result, const char* const* path) const {
        MMDB_entry_data_s data{};
        if (MMDB_aget_value(&result.entry, &data, path) != MMDB_SUCCESS || !data.has_data ||
            data.type != MMDB_DATA_TYPE_UTF8_STRING)
            return {};
        return cleanUtf8(data.utf8_string, data.data_size);
    }

    // UTF-8 "country city" from the first database that knows the address.
    std::string fromMmdb(const std::string& ip, const OfflineGeo& self) const {
        for (const MMDB_s& db : mmdbs) {
            int gaiError = 0;
            int mmdbError = 0;
            MMDB_lookup_result_s result =
                MMDB_lookup_string(const_cast<MMDB_s*>(&db), ip.c_str(), &gaiError, &mmdbError);
            if (gaiError != 0 || mmdbError != MMDB_SUCCESS || !result.found_entry)
                continue;
            std::string country;
            for (const char* section : {"country", "registered_country"}) {
                const char* zh[] = {section, "names", "zh-CN", nullptr};
                const char* code[] = {section, "iso_code", nullptr};
                const char* en[] = {section, "names", "en", nullptr};
                country = mmdbString(result, zh);
                if (country.empty())
                    country = gbk::toUnicode(self.countryName(mmdbString(result, code)))
                                  .toUtf8()
                                  .toStdString();
                if (country.empty())
                    country = mmdbString(result, en);
                if (!country.empty())
                    break;
            }
            const char* cityZh[] = {"city", "names", "zh-CN", nullptr};
            const char* cityEn[] = {"city", "names", "en", nullptr};
            std::string city = mmdbString(result, cityZh);
            if (city.empty())
                city = mmdbString(result, cityEn);
            std::string place = country;
            if (!city.empty() && city != country)
                place += (place.empty() ? "" : " ") + city;
            if (!place.empty())
                return place;
        }
        return {};
    }
};

OfflineGeoSources defaultOfflineGeoSources() {
    OfflineGeoSources s;
    if (const std::string folder = userConfigFolder(); !folder.empty()) {
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* e = ::readdir(dir)) {
                const std::string name = e->d_name;
                if (name.size() > 5 && name.compare(name.size() - 5, 5, ".mmdb") == 0)
                    s.mmdbFiles.push_back(folder + '/' + name);
            }
            ::closedir(dir);
        }
        // GeoLite2-City sorts before GeoLite2-Country: the finer answer is asked first.
        std::sort(s.mmdbFiles.begin(), s.mmdbFiles.end());
    }
    s.geoipCountryFile = "/usr/share/GeoIP/GeoIP.dat";
    s.isoXmlFile = "/usr/share/xml/iso-codes/iso_3166-1.xml";
    s.isoZhCatalogue = "/usr/share/locale/zh_CN/LC_MESSAGES/iso_3166-1.mo";
    return s;
}

OfflineGeo::OfflineGeo(OfflineGeoSources sources) : m_impl(std::make_unique<Impl>()) {
    for (const std::string& path : sources.mmdbFiles) {
        if (!regularFileUpTo(path, off_t(4) << 30))
            continue;
        MMDB_s db{};
        // MMDB_open checks the metadata and the tree size against the file; a failed open
        // leaves nothing to close.
        if (MMDB_open(path.c_str(), MMDB_MODE_MMAP, &db) == MMDB_SUCCESS)
            m_impl->mmdbs.push_back(db);
    }
    if (regularFileUpTo(sources.geoipCountryFile, off_t(256) << 20)) {
        // Read from the file as needed, not cached: a lookup beyond the end of a damaged file
        // then fails as a short read.
        m_impl->geoip =
            GeoIP_open(sources.geoipCountryFile.c_str(), GEOIP_STANDARD | GEOIP_SILENCE);
        if (m_impl->geoip && GeoIP_database_edition(m_impl->geoip) != GEOIP_COUNTRY_EDITION) {
            GeoIP_delete(m_impl->geoip);
            m_impl->geoip = nullptr;
        }
    }
    m_impl->isoNames = readIsoNames(sources.isoXmlFile);
    m_impl->zhCatalogue = readMoCatalogue(sources.isoZhCatalogue);
}

OfflineGeo::~OfflineGeo() {
    for (MMDB_s& db : m_impl->mmdbs)
        MMDB_close(&db);
    if (m_impl->geoip)
        GeoIP_delete(m_impl->geoip);
}

std::string OfflineGeo::countryName(const std::string& alpha2) const {
    std::string english;
    if (const auto it = m_impl->isoNames.find(alpha2); it != m_impl->isoNames.end())
        english = it->second;
    else if (alpha2 == "EU")
        return gbk::text("欧洲");
    else if (alpha2 == "AP")
        return gbk::text("亚太地区");
    else
        return {};
    const auto zh = m_impl->zhCatalogue.find(english);
    const std::string& name =
        zh != m_impl->zhCatalogue.end() && !zh->second.empty() ? zh->second : english;
    return toGbk(cleanUtf8(name.data(), name.size()));
}

std::string OfflineGeo::lookup(const std::string& ip) const {
    if (!validAddress(ip))
        return {};
    if (std::string place = m_impl->fromMmdb(ip, *this); !place.empty())
        return toGbk(place);
    unsigned char v4[4];
    if (m_impl->geoip && ::inet_pton(AF_INET, ip.c_str(), v4) == 1) {
        const int id = GeoIP_id_by_addr(m_impl->geoip, ip.c_str());
        if (id > 0 && unsigned(id) < GeoIP_num_countries()) {
            const char* code = GeoIP_code_by_id(id);
            if (code)
                return countryName(code);
        }
    }
    return {};
}

namespace {

std::mutex g_mutex;
std::unique_ptr<OfflineGeo> g_geo;
std::optional<bool> g_enabled;

}  // namespace

bool offlineLocationsEnabled() {
    std::lock_guard lock(g_mutex);
    if (!g_enabled) {
        const std::string v =
            gbk::toLowerAscii(hostsFileValue("locations", "offline").value_or(""));
        g_enabled = !(v == "0" || v == "false" || v == "no" || v == "off");
    }
    return *g_enabled;
}

std::string offlineLocation(const std::string& ip) {
    if (!offlineLocationsEnabled())
        return {};
    std::lock_guard lock(g_mutex);
    if (!g_geo)
        g_geo = std::make_unique<OfflineGeo>(defaultOfflineGeoSources());
    return g_geo->lookup(ip);
}

void reloadOfflineGeo() {
    std::lock_guard lock(g_mutex);
    g_geo.reset();
    g_enabled.reset();
}

}  // namespace vorsa
