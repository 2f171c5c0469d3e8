#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vorsa {

// Where the offline location of an address comes from, tried in this order: MaxMind-format
// databases (.mmdb, City or Country), then a legacy GeoIP country file; country names in
// Chinese from the iso-codes catalogue (English names from its XML, keyed by the two-letter code).
struct OfflineGeoSources {
    std::vector<std::string> mmdbFiles;
    std::string geoipCountryFile;
    std::string isoXmlFile;
    std::string isoZhCatalogue;  // a gettext .mo
};

// The user's *.mmdb files in the config folder (sorted by name), Debian's GeoIP.dat and the
// iso-codes files.
OfflineGeoSources defaultOfflineGeoSources();

// Reads the databases of one set of sources; a file that is missing, corrupt or of another
// kind is left out, and an address no database knows gives "".
class OfflineGeo {
public:
    explicit OfflineGeo(OfflineGeoSources sources);
    ~OfflineGeo();
    OfflineGeo(const OfflineGeo&) = delete;
    OfflineGeo& operator=(const OfflineGeo&) = delete;

    // "美国" or "美国 纽约" as GBK bytes, "" when unknown. ip: an IPv4 or IPv6 address text.
    std::string lookup(const std::string& ip) const;

    // The Chinese (GBK) name of a two-letter country code, the English one when the catalogue
    // has none, "" for an unknown code.
    std::string countryName(const std::string& alpha2) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The location of the default sources, or "" when unknown or when [locations] offline=0 of
// hosts.ini turns the offline fallback off. Main thread; the databases are opened once.
std::string offlineLocation(const std::string& ip);
bool offlineLocationsEnabled();
void reloadOfflineGeo();  // tests: forget the opened databases and the setting

}  // namespace vorsa
