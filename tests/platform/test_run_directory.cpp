#include "platform/run_directory.h"
#include "platform/text_lines.h"

#include <gtest/gtest.h>

#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

using vorsa::RunDirectory;

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(RunDirectory, PrivateFolderWithFreshJobFolders) {
    auto& run = RunDirectory::instance();
    EXPECT_EQ(modeOf(run.path()), 0700u);
    EXPECT_EQ(::access(run.path().c_str(), W_OK), 0);

    const std::string a = run.createJobDirectory("cnp");
    const std::string b = run.createJobDirectory("cnp");
    EXPECT_NE(a, b);
    for (const std::string& dir : {a, b}) {
        EXPECT_EQ(dir.rfind(run.path() + "/", 0), 0u) << dir;
        EXPECT_EQ(modeOf(dir), 0700u);
    }
    // Two jobs of one source write the same name without meeting.
    std::ofstream(RunDirectory::filePath(a, "1.cnp")) << "first job";
    std::ofstream(RunDirectory::filePath(b, "1.cnp")) << "second job";
    std::string text;
    ASSERT_TRUE(vorsa::readFileBytes(a + "/1.cnp", text));
    EXPECT_EQ(text, "first job");

    run.removeJobDirectory(a);
    EXPECT_FALSE(vorsa::fileExists(a + "/1.cnp"));
    EXPECT_NE(::access(a.c_str(), F_OK), 0);
    run.removeJobDirectory(run.path() + "/..");  // not a job folder: nothing happens
    run.removeJobDirectory("/tmp");
    EXPECT_EQ(::access(run.path().c_str(), F_OK), 0);
    EXPECT_TRUE(vorsa::fileExists(b + "/1.cnp"));
}

TEST(RunDirectory, JobFoldersAreUniqueAcrossThreads) {
    std::mutex m;
    std::set<std::string> dirs;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                std::string d = RunDirectory::instance().createJobDirectory("ros");
                std::lock_guard lock(m);
                dirs.insert(std::move(d));
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(dirs.size(), 400u);
}

TEST(RunDirectory, SafeFileNameStaysOneComponent) {
    const std::string gbk = "\xB9\xB2\xD3\xD0.ip";  // GBK text, kept as it is
    std::string longGbk;
    while (longGbk.size() < 400)
        longGbk += "\xB4\xFA";
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"1.cnp", "1.cnp"},
        {"61.135.1.2.ip", "61.135.1.2.ip"},
        {gbk, gbk},
        {"../x", ".._x"},
        {"a/b", "a_b"},
        {"/etc/passwd", "_etc_passwd"},
        {"", "_"},
        {".", "_."},
        {"..", "_.."},
        {"...", "..."},
        {std::string("a\0b", 3), "a_b"},
        {std::string(1000, 'x'), std::string(200, 'x')},
        {longGbk, longGbk.substr(0, 200)},
        {"x" + longGbk, "x" + longGbk.substr(0, 198)},  // never half a character
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in.substr(0, 40));
        EXPECT_EQ(RunDirectory::safeFileName(c.in), c.out);
    }
    EXPECT_EQ(RunDirectory::filePath("/run/x", "../../etc/passwd"), "/run/x/.._.._etc_passwd");
}

TEST(RunDirectory, StartClearsFoldersOfKilledRunsOnly) {
    char tmpl[] = "/tmp/vorsa-base-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string base = tmpl;
    // A process id that is surely gone: a child that has ended and been reaped.
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child);
    const std::string live = std::to_string(::getpid());
    struct Case {
        std::string name;
        bool directory;
        bool removed;
    } cases[] = {
        {"vorsa-" + dead + "-abcdef", true, true},    // killed run: cleared
        {"vorsa-" + live + "-abcdef", true, false},   // a live process keeps its folder
        {"vorsa-" + dead + "-abc", true, false},      // not our name
        {"vorsa-x" + dead + "-abcdef", true, false},  // not our name
        {"other-" + dead + "-abcdef", true, false},   // not ours at all
        {"vorsa-" + dead + "-zzzzzz", false, false},  // a file, not a folder
    };
    for (const Case& c : cases) {
        const std::string path = base + "/" + c.name;
        if (c.directory) {
            ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
            std::ofstream(path + "/1.cnp") << "page";
        } else {
            std::ofstream(path) << "file";
        }
    }
    const std::string cmd = "XDG_RUNTIME_DIR='" + base + "' " + std::string(RUN_DIRECTORY_CHILD);
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[4096];
    while (std::fgets(line, sizeof line, p)) {
    }
    EXPECT_EQ(::pclose(p), 0);
    for (const Case& c : cases)
        EXPECT_EQ(::access((base + "/" + c.name).c_str(), F_OK) != 0, c.removed) << c.name;
    // Leave nothing behind.
    ::nftw(
        base.c_str(),
        [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 8,
        FTW_DEPTH | FTW_PHYS);
}

TEST(RunDirectory, RemovedAtExitButNotWhatLinksPointTo) {
    char tmpl[] = "/tmp/vorsa-outside-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string outside = tmpl;
    std::ofstream(outside + "/keep") << "not ours";

    const std::string cmd = std::string(RUN_DIRECTORY_CHILD) + " '" + outside + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[4096] = {};
    const bool got = std::fgets(line, sizeof line, p) != nullptr;
    char late[64] = {};
    const bool gotLate = std::fgets(late, sizeof late, p) != nullptr;
    EXPECT_EQ(::pclose(p), 0);
    EXPECT_TRUE(gotLate);
    EXPECT_STREQ(late, "late:refused\n");
    ASSERT_TRUE(got);
    std::string path = line;
    path.erase(path.find_last_not_of('\n') + 1);

    EXPECT_FALSE(path.empty());
    EXPECT_NE(::access(path.c_str(), F_OK), 0) << path << " is still there";
    EXPECT_TRUE(vorsa::fileExists(outside + "/keep"));
    ::unlink((outside + "/keep").c_str());
    ::rmdir(outside.c_str());
}

}  // namespace
