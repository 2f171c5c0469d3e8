// vorsa-cli end to end, timed by hand (never part of a test run):
//   1. check of 10,000 sandbox proxies (half forwarding, a quarter refusing, a quarter never
//      answering) with --jobs 512 (and, for comparison, with the never-answering quarter left
//      out, and with as many jobs as proxies);
//   2. 1,000,000 ip:port lines read, de-duplicated and written (list).
// Prints wall time, checks per second and the child's peak memory (ru_maxrss).
//
// Usage: bench_cli [--quick]   (--quick: 2,000 proxies and 200,000 lines)
#include "sandbox/sandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

using vorsa::sandbox::Behaviour;

struct ChildResult {
    int status = -1;
    double seconds = 0;
    long maxRssKb = 0;
};

ChildResult runChild(const std::vector<std::string>& args, const std::string& stdoutPath) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    ChildResult r;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        return r;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.maxRssKb = usage.ru_maxrss;
    return r;
}

std::size_t countLines(const std::string& path) {
    std::ifstream in(path);
    std::size_t n = 0;
    std::string line;
    while (std::getline(in, line))
        n += line.empty() ? 0 : 1;
    return n;
}

void check(const std::string& cli, const std::string& dir, int proxies, bool withSilent, int jobs) {
    // A sandbox has 253 proxy addresses; the others reuse them on ports of their own.
    constexpr int kPerSandbox = 250;
    std::vector<std::unique_ptr<vorsa::sandbox::Sandbox>> webs;
    std::vector<std::string> list;
    int made = 0;
    while (made < proxies) {
        vorsa::sandbox::Options o;
        o.proxies.clear();
        for (int i = 0; i < kPerSandbox && made < proxies; ++i, ++made) {
            const int quarter = made % 4;
            const Behaviour b = quarter < 2    ? Behaviour::Forward
                                : quarter == 2 ? Behaviour::NotListening
                                               : Behaviour::NeverAnswer;
            o.proxies.push_back({b, 0});
        }
        webs.push_back(std::make_unique<vorsa::sandbox::Sandbox>(o));
        for (const auto& p : webs.back()->proxies())
            if (withSilent || p.behaviour != Behaviour::NeverAnswer)
                list.push_back(p.proxyString());
    }
    std::shuffle(list.begin(), list.end(), std::mt19937(42));
    const std::string hosts = dir + "/hosts.ini";
    webs.front()->writeHostsIni(hosts);
    ::setenv("VORSA_HOSTS", hosts.c_str(), 1);
    const std::string in = dir + "/proxies.txt";
    {
        std::ofstream out(in);
        for (const std::string& p : list)
            out << p << '\n';
    }
    const ChildResult r =
        runChild({cli, "check", in, "--jobs", std::to_string(jobs)}, dir + "/passed.txt");
    const std::size_t passed = countLines(dir + "/passed.txt");
    std::printf(
        "check %zu proxies (%s), --jobs %d: %.2f s, %.0f checks/s, %zu passed, "
        "exit %d, peak memory %.1f MB\n",
        list.size(),
        withSilent ? "1/2 good, 1/4 refusing, 1/4 never answering" : "2/3 good, 1/3 refusing", jobs,
        r.seconds, static_cast<double>(list.size()) / r.seconds, passed, r.status,
        r.maxRssKb / 1024.0);
    std::fflush(stdout);
}

void list(const std::string& cli, const std::string& dir, int lines) {
    const std::string in = dir + "/million.txt";
    {
        std::ofstream out(in);
        std::mt19937 rng(7);
        for (int i = 0; i < lines; ++i) {
            // About one line in ten repeats an earlier address.
            const unsigned v =
                (i % 10 == 9) ? rng() % static_cast<unsigned>(i) : static_cast<unsigned>(i);
            out << 10 + v % 200 << '.' << ((v >> 16) & 255) << '.' << ((v >> 8) & 255) << '.'
                << (v & 255) << ':' << 8000 + v % 1000 << '\n';
        }
    }
    const ChildResult r =
        runChild({cli, "list", in, "-o", dir + "/million-out.txt"}, dir + "/list.stdout");
    std::printf("list %d lines -> %zu rows written: %.2f s, exit %d, peak memory %.1f MB\n", lines,
                countLines(dir + "/million-out.txt") - 1, r.seconds, r.status, r.maxRssKb / 1024.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    char tmpl[] = "/tmp/vorsa-bench-cli-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (!dir)
        return 1;
    const std::string cli = VORSA_CLI_EXE;
    const int proxies = quick ? 2000 : 10000;
    check(cli, dir, proxies, false, 512);
    check(cli, dir, proxies, true, 512);
    if (!quick)
        check(cli, dir, proxies, true, 4096);
    list(cli, dir, quick ? 200000 : 1000000);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
