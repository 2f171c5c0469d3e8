// Costs of a check: the main thread's share from a posted completion to its handler, and the
// heap that one request in flight holds.
#include "platform/internet_session.h"
#include "platform/tick_count.h"
#include "tests/support/fake_host.h"
#include "validation/ra_vinet_checker.h"
#include "validation/validation_run.h"

#include "table/grid_routines.h"

#include <QCoreApplication>
#include <QThread>

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace vorsa;

QCoreApplication* app() {
    static int argc = 1;
    static char arg0[] = "bench_check";
    static char* argv[] = {arg0, nullptr};
    static QCoreApplication* a = new QCoreApplication(argc, argv);
    return a;
}

// What the network thread does for each finished check, from another thread.
void postCompletions(const std::vector<TRaVInetChecker*>& checkers) {
    std::vector<std::unique_ptr<CompletionTarget>> targets;
    for (TRaVInetChecker* c : checkers)
        targets.push_back(std::make_unique<CompletionTarget>(c));
    std::thread poster([&] {
        for (auto& t : targets)
            t->post([](QObject* w) {
                static_cast<TRaVInetChecker*>(w)->windowProc(TRaVInetChecker::WM_CHECKCOMPLETE, 1);
            });
    });
    poster.join();
}

// Main-thread time per completion: the queued call, the window procedure, an empty handler.
void BM_CompletionToHandler(benchmark::State& state) {
    app();
    const int n = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<TRaVInetChecker>> owned;
    std::vector<TRaVInetChecker*> checkers;
    int handled = 0;
    for (int i = 0; i < n; ++i) {
        owned.push_back(std::make_unique<TRaVInetChecker>());
        owned.back()->OnComplete = [&](TRaVInetChecker*, bool) { ++handled; };
        checkers.push_back(owned.back().get());
    }
    for (auto _ : state) {
        state.PauseTiming();
        handled = 0;
        postCompletions(checkers);
        state.ResumeTiming();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        benchmark::DoNotOptimize(handled);
    }
    state.counters["s_per_completion"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * n,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_CompletionToHandler)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The same through the validation run's mycomplete: grid cells, the record, the counters.
void BM_CompletionThroughMycomplete(benchmark::State& state) {
    app();
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        test::FakeHost host;
        for (int i = 1; i <= n; ++i)
            test::appendRow(host.table(),
                            "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250),
                            "8080");
        refreshgrid(host);
        std::vector<TRaVInetChecker*> started;
        {
            ValidationRun run(host);
            run.setCheckUrl("http://127.0.0.1:9/ip2city.asp");
            run.setCheckStarter([&](TRaVInetChecker& c) {
                started.push_back(&c);
                return true;
            });
            run.actcheckExecute();
            started.pop_back();  // left outstanding so that no finalisation is timed
            postCompletions(started);
            state.ResumeTiming();
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.counters["s_per_completion"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * (n - 1),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CompletionThroughMycomplete)->Arg(2000)->Unit(benchmark::kMillisecond);

// A listener in a child process that accepts and never answers, so that its sockets do not
// count against this process's heap.
struct SilentServer {
    pid_t pid = -1;
    int port = 0;
    SilentServer() {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4096);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        pid = ::fork();
        if (pid == 0) {
            std::vector<pollfd> fds;
            fds.reserve(16384);
            fds.push_back({fd, POLLIN, 0});
            char buf[4096];
            for (;;) {
                ::poll(fds.data(), fds.size(), -1);
                for (std::size_t i = 0; i < fds.size(); ++i) {
                    if (!(fds[i].revents & POLLIN))
                        continue;
                    if (i == 0) {
                        int c = ::accept(fd, nullptr, nullptr);
                        if (c >= 0 && fds.size() < fds.capacity())
                            fds.push_back({c, POLLIN, 0});
                    } else if (::read(fds[i].fd, buf, sizeof buf) <= 0) {
                        ::close(fds[i].fd);
                        fds[i].fd = -1;  // poll ignores it
                    }
                }
            }
        }
        ::close(fd);
    }
    ~SilentServer() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

// Heap held per check in flight: checker, session, transfer and curl's connection, with the
// request sent and waiting for an answer (the proxy never answers).
void BM_MemoryPerInFlightRequest(benchmark::State& state) {
    app();
    static SilentServer server;
    const int n = static_cast<int>(state.range(0));
    TRaVInetChecker::setReceiveTimeout(60000);
    double perRequest = 0;
    for (auto _ : state) {
        // Warm the network thread and curl's globals up first.
        {
            TRaVInetChecker warm;
            warm.AccessType = atProxy;
            warm.Proxy = "127.0.0.1:" + std::to_string(server.port);
            warm.Url = "http://127.0.0.1:9/ip2city.asp";
            warm.StartCheck();
            QThread::msleep(100);
        }
        malloc_trim(0);
        const std::size_t before = mallinfo2().uordblks;
        std::vector<std::unique_ptr<TRaVInetChecker>> checkers;
        for (int i = 0; i < n; ++i) {
            auto c = std::make_unique<TRaVInetChecker>();
            c->AccessType = atProxy;
            c->Proxy = "127.0.0.1:" + std::to_string(server.port);
            c->Url = "http://127.0.0.1:9/ip2city.asp";
            c->StartCheck();
            checkers.push_back(std::move(c));
        }
        QThread::msleep(1500);  // every request connected and sent
        const std::size_t during = mallinfo2().uordblks;
        perRequest = (static_cast<double>(during) - static_cast<double>(before)) / n;
        state.counters["in_flight"] = static_cast<double>(InternetSession::requestsInFlight());
        checkers.clear();  // late results are dropped; the requests time out on their own
    }
    state.counters["bytes_per_request"] = perRequest;
}
BENCHMARK(BM_MemoryPerInFlightRequest)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
