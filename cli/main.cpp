// vorsa-cli: the program's harvest, checks, lists and proxy switch behind a terminal.
#include "cli/cli_app.h"

#include <QCoreApplication>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

volatile sig_atomic_t g_signals = 0;

// The first Ctrl-C (or SIGTERM) asks the command to stop and write what it has; a second
// one ends the process at once.
void onStopSignal(int) {
    if (g_signals != 0)
        ::_exit(130);
    g_signals = 1;
    vorsa::g_cliStopRequested.store(true);
}

}  // namespace

int main(int argc, char** argv) {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a read of standard input that waits for a terminal returns, and the
    // reader sees the stop.
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorsadaili"));
    QCoreApplication::setOrganizationName(QStringLiteral("VORSASOFT"));

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    const int rc = vorsa::runCli(args);

    // Harvest workers and checks that still run end with the process, as in the window.
    std::fflush(nullptr);
    std::quick_exit(rc);
}
