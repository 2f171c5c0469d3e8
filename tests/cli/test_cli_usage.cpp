// The command line itself and what the program does with bad input: exit codes, one-line
// messages, bounded work on garbage. No network is needed beyond the sandbox's hosts file.
#include "cli_test_env.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

namespace vorsa::test {
namespace {

struct UsageCase {
    std::vector<const char*> args;
    const char* message;  // a part of the one line on stderr
};

TEST(CliUsage, HelpAndVersion) {
    CliEnv env;
    const CliRun help = env.run(qargs({"--help"}));
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: vorsa-cli")) << help.out.toStdString();
    for (const char* command : {"harvest", "check", "run", "lookup", "proxy get", "--jobs"})
        EXPECT_TRUE(help.out.contains(command)) << command;
    const CliRun version = env.run(qargs({"check", "--version"}));
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("vorsa-cli 4.")) << version.out.toStdString();
}

TEST(CliUsage, UsageErrorsExit2WithOneLine) {
    CliEnv env;
    const UsageCase cases[] = {
        {{}, "no command"},
        {{"fetch"}, "unknown command 'fetch'"},
        {{"check", "--jobs", "0"}, "--jobs must be at least 1"},
        {{"check", "--jobs", "-5"}, "--jobs must be at least 1"},
        {{"check", "--jobs", "many"}, "--jobs needs a whole number"},
        {{"check", "--jobs"}, "--jobs needs a value"},
        {{"check", "--pace", "-1"}, "--pace must be"},
        {{"check", "--bogus"}, "unknown option '--bogus'"},
        {{"check", "a.txt", "b.txt"}, "unexpected argument 'b.txt'"},
        {{"check", "--format", "xml", "-o", "x"}, "unknown format 'xml'"},
        {{"check", "--format", "json"}, "need -o FILE"},
        {{"harvest", "--groups", "domestic,moon"}, "unknown source group 'moon'"},
        {{"harvest", "--jobs", "4"}, "--jobs and --pace apply to check and run only"},
        {{"check", "--groups", "foreign"}, "--groups applies to harvest and run only"},
        {{"proxy"}, "proxy needs get, set HOST:PORT or off"},
        {{"proxy", "set"}, "proxy set needs HOST:PORT"},
        {{"proxy", "set", "127.0.0.1:99999"}, "is not HOST:PORT"},
        {{"proxy", "set", "[::1]:8080"}, "is not HOST:PORT"},
        {{"proxy", "set", "http://127.0.0.1:8080"}, "is not HOST:PORT"},
        {{"proxy", "toggle"}, "unknown proxy action 'toggle'"},
        {{"proxy", "get", "-o", "x.txt"}, "-o and --format do not apply"},
    };
    for (const UsageCase& c : cases) {
        QStringList args;
        for (const char* a : c.args)
            args << QString::fromUtf8(a);
        const CliRun r = env.run(args);
        SCOPED_TRACE(args.join(u' ').toStdString());
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith("vorsa-cli: ")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

// More jobs than open files are capped, with a message, and the check still runs.
TEST(CliUsage, JobsBeyondTheOpenFileLimitAreCapped) {
    CliEnv env;
    const std::string good = env.web().proxy(sandbox::Behaviour::Forward).proxyString();
    const CliRun r = env.run(qargs({"check", "--jobs", "100000000", "-"}),
                             QByteArray::fromStdString(good + "\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("more than the open-file limit allows; using"))
        << r.err.toStdString();
    EXPECT_EQ(lines(r.out), std::vector<std::string>{good});
}

// Input that is no list: a clear message or skipped lines, never a crash, and an exit status
// that says nothing usable came of it.
TEST(CliUsage, BadInputIsSkippedOrRefused) {
    CliEnv env;
    const std::string dir = env.path("adir");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    struct BadInput {
        const char* name;
        QByteArray bytes;
        int exitCode;
        const char* message;
        std::vector<std::string> kept;
    };
    QByteArray binary;
    for (int i = 0; i < 200000; ++i)
        binary += static_cast<char>((i * 7919 + 13) % 255 + 1);  // no NUL: all of it is read
    const QByteArray megabyteLine(1 << 20, 'x');
    const BadInput inputs[] = {
        {"ports",
         "1.2.3.4:65536\n1.2.3.5:0\n1.2.3.6:-80\n1.2.3.7:80x\n1.2.3.8:65535\n",
         0,
         "4 of 5 lines skipped",
         {"1.2.3.8:65535"}},
        {"ipv6", "::1\n[::1]:8080\nfe80::1:3128\n2001:db8::1:80\n", 1, "4 of 4 lines skipped", {}},
        {"megabyte lines",
         megabyteLine + ":80\n1.2.3.4:80\n" + megabyteLine,
         0,
         "2 of 3 lines skipped: not ip:port with a port 1..65535 (2 longer than",
         {"1.2.3.4:80"}},
        {"binary", binary, 1, "lines skipped", {}},
        {"nul",
         QByteArray("1.2.3.4:80\n", 11) + QByteArray(1, '\0') + "5.6.7.8:80\n",
         0,
         "ends at a NUL byte",
         {"1.2.3.4:80"}},
        {"markup", "<b>1.2.3.4</b>:80\n1.2.3.4:80;rm -rf\n", 1, "2 of 2 lines skipped", {}},
        {"repeats",
         "1.2.3.4:80\n 1.2.3.4 :81\r\n5.6.7.8:3128\r1.2.3.4 : 80\n",
         0,
         "",
         {"1.2.3.4:80", "1.2.3.4:81", "5.6.7.8:3128"}},
        {"empty", "", 1, "no usable proxy", {}},
    };
    for (const BadInput& in : inputs) {
        SCOPED_TRACE(in.name);
        const CliRun r = env.run(qargs({"list", "-"}), in.bytes);
        EXPECT_FALSE(r.crashed);
        EXPECT_EQ(r.exitCode, in.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(in.message)) << r.err.toStdString();
        EXPECT_EQ(lines(r.out), in.kept);
    }
    const CliRun onDir = env.run(QStringList{QStringLiteral("check"), QString::fromStdString(dir)});
    EXPECT_EQ(onDir.exitCode, 1);
    EXPECT_TRUE(onDir.err.contains("is a directory")) << onDir.err.toStdString();
    const CliRun missing = env.run(qargs({"check", "/nonexistent/list.txt"}));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("cannot open /nonexistent/list.txt"))
        << missing.err.toStdString();
}

// A gigabyte without a line end goes through in bounded memory: the child is given an
// address-space limit far below the input's size.
TEST(CliUsage, AGigabyteWithoutALineEndInBoundedMemory) {
    CliEnv env;
    QProcess p;
    p.setProcessEnvironment(env.environment());
    // ulimit -v in KiB; the sanitizers reserve huge address ranges, so the limit is only set
    // where the program runs plain.
    const bool sanitized = !qEnvironmentVariableIsEmpty("VORSA_SANITIZED");
    const QString limit = sanitized ? QString() : QStringLiteral("ulimit -v 400000; ");
    p.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         limit + QStringLiteral("head -c 1073741824 /dev/zero | tr '\\000' 'a' | \"$0\" list -"),
         QStringLiteral(VORSA_CLI_EXE)});
    ASSERT_TRUE(p.waitForFinished(240000));
    EXPECT_EQ(p.exitCode(), 1);
    const QByteArray err = p.readAllStandardError();
    EXPECT_TRUE(err.contains("1 of 1 lines skipped")) << err.toStdString();
    EXPECT_TRUE(err.contains("no usable proxy")) << err.toStdString();
}

}  // namespace
}  // namespace vorsa::test
