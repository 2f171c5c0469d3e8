#pragma once

#include "sandbox/sandbox.h"

#include <QByteArray>
#include <QDateTime>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

namespace vorsa::test {

// What one run of vorsa-cli left.
struct CliRun {
    int exitCode = -1;
    bool crashed = false;
    QByteArray out;
    QByteArray err;
    QDateTime started;  // for the date-time text of an export: between started and ended
    QDateTime ended;
};

// The executable under test, run as a child against the simulated web: a private folder with
// the sandbox's hosts.ini (VORSA_HOSTS), its own config folder (XDG_CONFIG_HOME) and the
// GSettings keyfile backend, so nothing of the user's is read or changed.
class CliEnv {
public:
    explicit CliEnv(sandbox::Options options = {});

    sandbox::Sandbox& web() { return *m_web; }
    std::string path(const std::string& name) const;
    QProcessEnvironment environment() const;

    // Runs vorsa-cli with args, stdinBytes on its standard input, and waits for its end.
    CliRun run(const QStringList& args, const QByteArray& stdinBytes = {},
               int timeoutMs = 120000) const;
    // Starts vorsa-cli and returns at once (standard input closed).
    std::unique_ptr<QProcess> start(const QStringList& args) const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<sandbox::Sandbox> m_web;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
QStringList qargs(std::initializer_list<const char*> args);
// Non-empty lines of text, without their line ends.
std::vector<std::string> lines(const QByteArray& text);

}  // namespace vorsa::test
