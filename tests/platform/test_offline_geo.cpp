// Offline locations: a .mmdb written here, Debian's country file, and damaged files.
#include "platform/offline_geo.h"

#include "platform/codec.h"
#include "tests/support/mmdb_writer.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>

namespace vorsa {
namespace {

namespace mm = test::mmdb;

const std::string kGeoIpDat = "/usr/share/GeoIP/GeoIP.dat";

std::string utf8(const std::string& gbkText) {
    return gbk::toUnicode(gbkText).toStdString();
}

std::string countryCity() {
    return mm::database({
        {0x08080800, 24,
         mm::map({{"country", mm::names("United States", "美国", {{"iso_code", mm::str("US")}})},
                  {"city", mm::names("Mountain View", "山景城")}})},
        // No Chinese names in the database: the country's comes from iso-codes.
        {0x51000000, 8,
         mm::map({{"country", mm::map({{"iso_code", mm::str("DE")}})},
                  {"city", mm::names("Berlin", "")}})},
        {0xCB007100, 24, mm::map({{"registered_country", mm::map({{"iso_code", mm::str("JP")}})}})},
        // Names with control bytes, as a hostile file might carry.
        {0xC0000200, 24,
         mm::map(
             {{"country", mm::names("Atlantis", "")}, {"city", mm::names("Old\r\n\x01Town", "")}})},
        // A record that points beyond the data section.
        {0xC6336400, 24, mm::map({}), 5000},
    });
}

class OfflineGeoTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vorsa-geo-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override { ASSERT_EQ(std::system(("rm -rf '" + m_dir + "'").c_str()), 0); }
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static OfflineGeoSources sources(std::vector<std::string> mmdbs, std::string geoip = "") {
        OfflineGeoSources s = defaultOfflineGeoSources();
        s.mmdbFiles = std::move(mmdbs);
        s.geoipCountryFile = std::move(geoip);
        return s;
    }
    std::string m_dir;
};

TEST_F(OfflineGeoTest, MmdbGivesCountryAndCityInChinese) {
    const OfflineGeo geo(sources({write("GeoLite2-City.mmdb", countryCity())}));
    const struct {
        const char* ip;
        const char* expected;  // UTF-8
    } cases[] = {
        {"8.8.8.8", "美国 山景城"},
        {"81.2.3.4", "德国 Berlin"},
        {"203.0.113.9", "日本"},
        {"192.0.2.1", "Atlantis OldTown"},
        {"198.51.100.1", ""},  // damaged record
        {"8.8.4.4", ""},       // in no network, and no country file
        {"::1", ""},           // an IPv6 address in an IPv4 database
        {"8.8.8.8 ", ""},
        {"not an address", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf8(geo.lookup(c.ip)), c.expected) << c.ip;
}

TEST_F(OfflineGeoTest, DamagedFilesGiveNothingAndNeverCrash) {
    const std::string good = countryCity();
    std::vector<std::string> files = {
        write("empty.mmdb", ""),
        write("garbage.mmdb", std::string(4096, '\x5a')),
        write("metadata-only.mmdb", good.substr(good.rfind("\xAB\xCD\xEFMaxMind.com"))),
        m_dir + "/missing.mmdb",
        m_dir,  // a folder
    };
    // Every cut of the file, and single flipped bytes: opened or refused, never a crash.
    for (std::size_t cut = 0; cut < good.size(); cut += 7)
        files.push_back(write("cut" + std::to_string(cut) + ".mmdb", good.substr(0, cut)));
    std::mt19937 rng(12);
    for (int i = 0; i < 200; ++i) {
        std::string bad = good;
        bad[rng() % bad.size()] ^= char(1 + rng() % 255);
        files.push_back(write("flip" + std::to_string(i) + ".mmdb", bad));
    }
    for (const std::string& f : files) {
        const OfflineGeo geo(sources({f}, write("GeoIP.dat", std::string(20000, '\0'))));
        for (const char* ip : {"8.8.8.8", "81.2.3.4", "203.0.113.9", "1.1.1.1", "::1"})
            (void)geo.lookup(ip);
    }
    // Damaged files only: nothing known.
    const OfflineGeo none(sources({files[0], files[1], files[2]}, write("junk.dat", "GeoIP junk")));
    EXPECT_EQ(none.lookup("8.8.8.8"), "");
    // A damaged database before a good one does not hide it.
    const OfflineGeo both(sources({files[1], write("good.mmdb", good)}));
    EXPECT_EQ(utf8(both.lookup("8.8.8.8")), "美国 山景城");
}

TEST_F(OfflineGeoTest, PackagedCountryFile) {
    if (::access(kGeoIpDat.c_str(), R_OK) != 0)
        GTEST_SKIP() << kGeoIpDat << " is absent (Debian package geoip-database)";
    const OfflineGeo geo(sources({}, kGeoIpDat));
    EXPECT_EQ(utf8(geo.lookup("8.8.8.8")), "美国");
    EXPECT_EQ(geo.lookup("127.0.0.1"), "");
    EXPECT_EQ(geo.lookup("10.1.2.3"), "");
    // The .mmdb answers first; what it does not know falls to the country file.
    const OfflineGeo both(sources({write("c.mmdb", countryCity())}, kGeoIpDat));
    EXPECT_EQ(utf8(both.lookup("81.2.3.4")), "德国 Berlin");
    EXPECT_EQ(utf8(both.lookup("8.8.4.4")), "美国");
    // Cut copies of the real file: whatever they say, they say it without a crash.
    std::ifstream in(kGeoIpDat, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    const std::string dat = all.str();
    for (const std::size_t cut :
         {std::size_t(3), std::size_t(100), dat.size() / 100, dat.size() / 2, dat.size() - 1}) {
        const OfflineGeo cutGeo(sources({}, write("cut.dat", dat.substr(0, cut))));
        for (const char* ip : {"8.8.8.8", "1.1.1.1", "200.1.2.3"})
            (void)cutGeo.lookup(ip);
    }
}

TEST_F(OfflineGeoTest, CountryNamesFromIsoCodes) {
    const OfflineGeo geo(sources({}));
    const struct {
        const char* code;
        const char* name;
    } cases[] = {{"US", "美国"}, {"DE", "德国"}, {"CN", "中国"},
                 {"EU", "欧洲"}, {"XX", ""},     {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(utf8(geo.countryName(c.code)), c.name) << c.code;
}

}  // namespace
}  // namespace vorsa
