#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace vorsa {

// The commands of vorsa-cli on top of CliHost. Exit codes: 0 done, 1 nothing usable or an
// error, 2 a usage error (one line on stderr), 130 stopped by SIGINT or SIGTERM (what it had
// is written). A QCoreApplication must exist.
int runCli(const std::vector<std::string>& args);

// Set by the first SIGINT/SIGTERM (main installs the handler): stop issuing, finish, write.
extern std::atomic<bool> g_cliStopRequested;

}  // namespace vorsa
