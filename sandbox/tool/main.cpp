// vorsa-sandbox [--port N] [--hosts-out FILE] [--scale N]
// Serves the simulated web on loopback until SIGINT or SIGTERM.
#include "sandbox/sandbox.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

bool readNumber(const char* text, long lo, long hi, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && out >= lo && out <= hi;
}

int usage() {
    std::fprintf(stderr, "usage: vorsa-sandbox [--port N] [--hosts-out FILE] [--scale N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    vorsa::sandbox::Options options;
    options.port = 8790;
    std::string hostsOut;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        long value = 0;
        if (arg == "--port" && i + 1 < argc && readNumber(argv[i + 1], 0, 65535, value)) {
            options.port = std::uint16_t(value);
            ++i;
        } else if (arg == "--scale" && i + 1 < argc && readNumber(argv[i + 1], 0, 5000000, value)) {
            options.scale = int(value);
            ++i;
        } else if (arg == "--hosts-out" && i + 1 < argc) {
            hostsOut = argv[++i];
        } else {
            return usage();
        }
    }

    // Block the signals before any thread starts, so only sigwait below sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        vorsa::sandbox::Sandbox sandbox(options);
        if (!hostsOut.empty())
            sandbox.writeHostsIni(hostsOut);
        std::printf("vorsa-sandbox serving %s\n", sandbox.baseUrl().c_str());
        for (const auto& p : sandbox.proxies())
            std::printf("proxy %-21s %s%s\n", p.proxyString().c_str(),
                        vorsa::sandbox::behaviourName(p.behaviour),
                        p.delayMs > 0 ? (" " + std::to_string(p.delayMs) + " ms").c_str() : "");
        if (!hostsOut.empty())
            std::printf("hosts file %s\n", hostsOut.c_str());
        std::fflush(stdout);
        int received = 0;
        sigwait(&signals, &received);
        std::printf("vorsa-sandbox stopping\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorsa-sandbox: %s\n", e.what());
        return 1;
    }
    return 0;
}
