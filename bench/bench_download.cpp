// Loopback throughput of URLDownloadToFile for one 50 MB body: the cost of our own layer
// (libcurl, decoding off, the temporary file and its rename) without a real network.
#include "platform/page_download.h"
#include "platform/run_directory.h"
#include "tests/support/loopback_server.h"

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdio>
#include <memory>

namespace {

constexpr std::size_t kBodyBytes = 50u << 20;

void BM_DownloadOneLargePage(benchmark::State& state) {
    // The store is kept out of the way so the user's system proxy cannot take part.
    ::setenv("VORSA_INTERNET_SETTINGS", "/nonexistent/internet-settings.ini", 1);
    vorsa::DownloadLimits limits;
    limits.maxBytes = 2 * kBodyBytes;
    vorsa::setDownloadLimits(limits);

    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(kBodyBytes) + "\r\nConnection: close\r\n\r\n";
    const auto body = std::make_shared<const std::string>(kBodyBytes, 'p');
    vorsa::test::LoopbackServer server([&](const vorsa::test::LoopbackServer::Request&) {
        vorsa::test::LoopbackServer::Reply reply{head};
        reply.shared = body;
        return reply;
    });
    const std::string dir = vorsa::RunDirectory::instance().createJobDirectory("bench");
    const std::string path = vorsa::RunDirectory::filePath(dir, "1.cnp");
    const std::string url = server.url("/big.html");

    for (auto _ : state) {
        if (vorsa::URLDownloadToFile(url, path) != 0) {
            state.SkipWithError("download failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kBodyBytes));
    vorsa::RunDirectory::instance().removeJobDirectory(dir);
}
BENCHMARK(BM_DownloadOneLargePage)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
