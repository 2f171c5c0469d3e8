#include "cli_test_env.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vorsa::test {

namespace {

void ensureApp() {
    static int argc = 1;
    static char arg0[] = "test_cli";
    static char* argv[] = {arg0, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

}  // namespace

CliEnv::CliEnv(sandbox::Options options) : m_web(std::make_unique<sandbox::Sandbox>(options)) {
    ensureApp();
    m_web->writeHostsIni(path("hosts.ini"));
}

std::string CliEnv::path(const std::string& name) const {
    return m_dir.filePath(QString::fromStdString(name)).toStdString();
}

QProcessEnvironment CliEnv::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VORSA_HOSTS"), QString::fromStdString(path("hosts.ini")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(path("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
    env.remove(QStringLiteral("VORSA_INTERNET_SETTINGS"));
    env.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    // The program ends with quick_exit while threads may still hold memory: no leak report.
    // Its races are still reported under TSan (the inherited options and suppressions).
    QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    if (!asan.isEmpty())
        asan += u':';
    env.insert(QStringLiteral("ASAN_OPTIONS"), asan + QStringLiteral("detect_leaks=0"));
    return env;
}

CliRun CliEnv::run(const QStringList& args, const QByteArray& stdinBytes, int timeoutMs) const {
    CliRun r;
    QProcess p;
    p.setProcessEnvironment(environment());
    r.started = QDateTime::currentDateTime();
    p.start(QStringLiteral(VORSA_CLI_EXE), args);
    if (!p.waitForStarted(10000)) {
        ADD_FAILURE() << "vorsa-cli did not start";
        return r;
    }
    if (!stdinBytes.isEmpty())
        p.write(stdinBytes);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        ADD_FAILURE() << "vorsa-cli did not end within " << timeoutMs << " ms";
        p.kill();
        p.waitForFinished();
    }
    r.ended = QDateTime::currentDateTime();
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

std::unique_ptr<QProcess> CliEnv::start(const QStringList& args) const {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(environment());
    p->start(QStringLiteral(VORSA_CLI_EXE), args);
    p->waitForStarted(10000);
    p->closeWriteChannel();
    return p;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

QStringList qargs(std::initializer_list<const char*> args) {
    QStringList out;
    for (const char* a : args)
        out << QString::fromUtf8(a);
    return out;
}

std::vector<std::string> lines(const QByteArray& text) {
    std::vector<std::string> out;
    for (const QByteArray& line : text.split('\n')) {
        QByteArray l = line;
        if (l.endsWith('\r'))
            l.chop(1);
        if (!l.isEmpty())
            out.push_back(l.toStdString());
    }
    return out;
}

}  // namespace vorsa::test
