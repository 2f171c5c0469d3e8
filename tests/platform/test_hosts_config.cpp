#include "platform/hosts_config.h"
#include "platform/text_lines.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>

using vorsa::hostBase;

namespace {

const std::string kDefault = "http://127.0.0.1:8790";

class HostsConfig : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vorsa-hosts-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        // The user's own configuration never leaks into a test.
        ::setenv("XDG_CONFIG_HOME", (m_dir + "/config").c_str(), 1);
        ::setenv("VORSA_HOSTS", (m_dir + "/hosts.ini").c_str(), 1);
        vorsa::reloadHosts();
    }
    void TearDown() override {
        ::unsetenv("VORSA_HOSTS");
        vorsa::reloadHosts();
        ASSERT_EQ(std::system(("rm -rf '" + m_dir + "'").c_str()), 0);
    }
    void writeHosts(const std::string& path, const std::string& text) {
        const auto slash = path.rfind('/');
        ::mkdir(path.substr(0, path.rfind('/', slash - 1)).c_str(), 0700);
        ::mkdir(path.substr(0, slash).c_str(), 0700);
        std::ofstream(path, std::ios::binary) << text;
        vorsa::reloadHosts();
    }
    std::string m_dir;
};

TEST_F(HostsConfig, DefaultsWithoutAnyFile) {
    for (std::string_view key : vorsa::hostKeys())
        EXPECT_EQ(hostBase(key), kDefault) << key;
    EXPECT_EQ(hostBase("no-such-key"), kDefault);
    EXPECT_EQ(hostBase(""), kDefault);
}

TEST_F(HostsConfig, ValuesAreCheckedLineByLine) {
    struct Case {
        const char* line;
        std::string cnp;  // what hostBase("cnp") gives after that single line
    };
    const Case cases[] = {
        {"cnp=http://127.0.0.1:9000", "http://127.0.0.1:9000"},
        {"  cnp  =  http://127.0.0.2:9000/  ", "http://127.0.0.2:9000"},
        {"CNP=http://localhost", "http://localhost"},
        {"cnp=https://[::1]:8443", "https://[::1]:8443"},
        {"cnp=HTTP://list.example:81", "http://list.example:81"},
        {"cnp=ftp://127.0.0.1", kDefault},
        {"cnp=127.0.0.1:9000", kDefault},
        {"cnp=http://", kDefault},
        {"cnp=http://127.0.0.1:", kDefault},
        {"cnp=http://127.0.0.1:0", kDefault},
        {"cnp=http://127.0.0.1:65536", kDefault},
        {"cnp=http://127.0.0.1:80x", kDefault},
        {"cnp=http://127.0.0.1/path", kDefault},
        {"cnp=http://a b", kDefault},
        {"cnp=http://user@host", kDefault},
        {"cnp=http://[::1", kDefault},
        {"cnp=", kDefault},
        {"cnp", kDefault},
        {"; cnp=http://127.0.0.1:9000", kDefault},
        {"# cnp=http://127.0.0.1:9000", kDefault},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        writeHosts(m_dir + "/hosts.ini", std::string("[hosts]\r\n") + c.line + "\r\n");
        EXPECT_EQ(hostBase("cnp"), c.cnp);
    }
}

TEST_F(HostsConfig, BrokenFilesFallBackKeyByKey) {
    const std::string config = m_dir + "/config/VORSASOFT/hosts.ini";
    writeHosts(config, "[hosts]\nros=http://127.0.0.3:3\ncnp=http://127.0.0.3:3\n");
    struct Case {
        const char* name;
        std::string env;  // contents of the $VORSA_HOSTS file
        std::string cnp, ros, maker;
    };
    const std::string c3 = "http://127.0.0.3:3";
    const Case cases[] = {
        {"good", "[hosts]\ncnp=http://127.0.0.9:9\n", "http://127.0.0.9:9", c3, kDefault},
        {"other section", "[other]\ncnp=http://127.0.0.9:9\n", c3, c3, kDefault},
        {"no section", "cnp=http://127.0.0.9:9\n", c3, c3, kDefault},
        {"bad value", "[hosts]\ncnp=javascript:alert(1)\n", c3, c3, kDefault},
        {"binary", std::string("\0\xff\xfe[hosts\n=\n\x81=\x82\n", 14), c3, c3, kDefault},
        {"empty", "", c3, c3, kDefault},
        {"later line wins", "[hosts]\nmaker=http://a:1\nmaker=http://b:2\n", c3, c3, "http://b:2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeHosts(m_dir + "/hosts.ini", c.env);
        EXPECT_EQ(hostBase("cnp"), c.cnp);
        EXPECT_EQ(hostBase("ros"), c.ros);
        EXPECT_EQ(hostBase("maker"), c.maker);
    }
    ::unlink((m_dir + "/hosts.ini").c_str());  // a missing file is no file
    vorsa::reloadHosts();
    EXPECT_EQ(hostBase("cnp"), c3);
    ::mkdir((m_dir + "/hosts.ini").c_str(), 0700);  // nor is a folder
    vorsa::reloadHosts();
    EXPECT_EQ(hostBase("cnp"), c3);
}

TEST_F(HostsConfig, ReadOnceUntilReloaded) {
    writeHosts(m_dir + "/hosts.ini", "[hosts]\necho=http://127.0.0.5:5\n");
    EXPECT_EQ(hostBase("echo"), "http://127.0.0.5:5");
    std::ofstream(m_dir + "/hosts.ini") << "[hosts]\necho=http://127.0.0.6:6\n";
    EXPECT_EQ(hostBase("echo"), "http://127.0.0.5:5");
    vorsa::reloadHosts();
    EXPECT_EQ(hostBase("echo"), "http://127.0.0.6:6");
}

TEST_F(HostsConfig, LookupOrderEnvThenBesideProgramThenUserConfig) {
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    std::string beside = self;
    beside = beside.substr(0, beside.rfind('/')) + "/hosts.ini";
    ASSERT_FALSE(vorsa::fileExists(beside)) << "a hosts.ini is already beside the test";
    writeHosts(m_dir + "/hosts.ini", "[hosts]\ncnp=http://127.0.0.1:1\n");
    writeHosts(beside,
               "[hosts]\ncnp=http://127.0.0.2:2\nros=http://127.0.0.2:2\necho=http://x y\n");
    writeHosts(m_dir + "/config/VORSASOFT/hosts.ini",
               "[hosts]\ncnp=http://127.0.0.3:3\nros=http://127.0.0.3:3\n"
               "echo=http://127.0.0.3:3\nmaker=http://127.0.0.3:3\n");
    EXPECT_EQ(hostBase("cnp"), "http://127.0.0.1:1");
    EXPECT_EQ(hostBase("ros"), "http://127.0.0.2:2");
    EXPECT_EQ(hostBase("echo"), "http://127.0.0.3:3");  // the bad value beside is passed over
    EXPECT_EQ(hostBase("maker"), "http://127.0.0.3:3");
    EXPECT_EQ(hostBase("portal_a"), kDefault);
    ::unlink(beside.c_str());
}

TEST_F(HostsConfig, RandomBytesNeverBreakIt) {
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    const std::string pieces[] = {"[hosts]", "cnp=", "http://", "https://",  "[", "]",    ":",
                                  "=",       "\n",   "\r",      "127.0.0.1", "/", "\xB4", "65535"};
    for (int round = 0; round < 100; ++round) {
        std::string text;
        const int n = static_cast<int>(next() % 40);
        for (int i = 0; i < n; ++i)
            text += next() % 3 ? pieces[next() % std::size(pieces)]
                               : std::string(1, static_cast<char>(next() >> 24));
        writeHosts(m_dir + "/hosts.ini", text);
        const std::string base = hostBase("cnp");
        EXPECT_EQ(vorsa::normalisedHostBase(base), base) << text;
    }
}

// The shipped file sets every key the program uses, to a loopback address.
TEST_F(HostsConfig, ShippedFileCoversEveryKey) {
    std::string shipped;
    ASSERT_TRUE(vorsa::readFileBytes(VORSA_SHIPPED_HOSTS, shipped));
    writeHosts(m_dir + "/hosts.ini", shipped);
    for (std::string_view key : vorsa::hostKeys()) {
        EXPECT_NE(shipped.find("\n" + std::string(key) + "="), std::string::npos) << key;
        EXPECT_EQ(hostBase(key).rfind("http://127.", 0), 0u) << key;
    }
}

}  // namespace
