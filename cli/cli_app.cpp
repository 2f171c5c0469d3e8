#include "cli/cli_app.h"

#include "cli/check_loop.h"
#include "cli/cli_host.h"
#include "harvest/udlclass.h"
#include "harvest/worker_thread.h"
#include "lists/import_export.h"
#include "lists/list_reader.h"
#include "lists/location_lookup.h"
#include "platform/check_settings.h"
#include "platform/codec.h"
#include "platform/internet_settings.h"
#include "platform/proxy_announce.h"
#include "platform/run_directory.h"
#include "platform/settings_store.h"
#include "platform/text_lines.h"
#include "sysproxy/system_proxy.h"
#include "table/grid_routines.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

#ifndef VORSA_VERSION
#define VORSA_VERSION "0"
#endif

namespace vorsa {

std::atomic<bool> g_cliStopRequested{false};

namespace {

constexpr int kUsage = 2;
constexpr int kInterrupted = 130;
// Descriptors kept back from --jobs for what else the process has open (standard streams,
// the event loop, curl's wake-up pipe, the run folder, harvest downloads).
constexpr long kReservedFiles = 64;
constexpr int kMaxJobs = 16384;

const char kHelp[] =
    "Usage: vorsa-cli COMMAND [OPTIONS]\n"
    "\n"
    "Harvests, checks and looks up HTTP proxies with the same code as the window.\n"
    "\n"
    "Commands:\n"
    "  harvest [--groups LIST]       download the proxy lists of the source groups\n"
    "  check [FILE|-]                check the ip:port lines of FILE (standard input by default)\n"
    "  run [--groups LIST]           harvest, then check what was found\n"
    "  lookup [FILE|-]               add each proxy's location\n"
    "  list [FILE|-]                 read, de-duplicate and write a list (no network)\n"
    "  proxy get                     show the system proxy\n"
    "  proxy set HOST:PORT           make HOST:PORT the system proxy\n"
    "  proxy off                     switch the system proxy off\n"
    "\n"
    "Options:\n"
    "  --groups LIST    comma-separated: domestic, foreign, custom (default: the window's choice)\n"
    "  --jobs N         checks in flight at once (default 256; capped by the open-file limit)\n"
    "  --pace MS        milliseconds between two check starts (default 0; the window uses 150)\n"
    "  -o FILE          write the result to FILE (replaced only once it is complete)\n"
    "  --format F       txt, html, csv (the window's export formats, GBK) or json (UTF-8);\n"
    "                   default: from the extension of FILE, else txt\n"
    "  -h, --help       show this help\n"
    "  --version        show the version\n"
    "\n"
    "Without -o the result goes to standard output as ip:port lines (lookup adds a tab and\n"
    "the location). Input lines are ip:port; lines that are no usable proxy are skipped and\n"
    "repeated ip:port lines dropped. Exit status: 0 done, 1 nothing usable or\n"
    "an error, 2 usage error, 130 interrupted (what was finished is written).\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Format { Txt, Html, Csv, Json };

struct Args {
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> groups;
    long long jobs = 256;
    bool jobsGiven = false;
    long long paceMs = 0;
    std::optional<std::string> output;
    std::optional<Format> format;
};

long long parseNumber(const std::string& option, const std::string& text) {
    long long value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || r.ptr != text.data() + text.size()) {
        throw UsageError(option + " needs a whole number, not '" + text + "'");
    }
    if (r.ec == std::errc::result_out_of_range)
        return text.front() == '-' ? -1 : std::numeric_limits<long long>::max();
    return value;
}

std::optional<Format> formatNamed(const std::string& name) {
    if (name == "txt")
        return Format::Txt;
    if (name == "html")
        return Format::Html;
    if (name == "csv")
        return Format::Csv;
    if (name == "json")
        return Format::Json;
    return std::nullopt;
}

Args parseArgs(const std::vector<std::string>& args) {
    Args a;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](const std::string& option) -> std::string {
            const auto eq = arg.find('=');
            if (arg.rfind("--", 0) == 0 && eq != std::string::npos)
                return arg.substr(eq + 1);
            if (i + 1 >= args.size())
                throw UsageError(option + " needs a value");
            return args[++i];
        };
        const std::string name = arg.rfind("--", 0) == 0 ? arg.substr(0, arg.find('=')) : arg;
        if (name == "--groups") {
            a.groups = value(name);
        } else if (name == "--jobs") {
            a.jobs = parseNumber(name, value(name));
            a.jobsGiven = true;
        } else if (name == "--pace") {
            a.paceMs = parseNumber(name, value(name));
        } else if (name == "-o" || name == "--output") {
            a.output = value(name);
            if (a.output->empty())
                throw UsageError("-o needs a file name");
        } else if (name == "--format") {
            const std::string f = value(name);
            a.format = formatNamed(f);
            if (!a.format)
                throw UsageError("unknown format '" + f + "' (txt, html, csv or json)");
        } else if (arg == "-" || arg.empty() || arg.front() != '-') {
            if (a.command.empty())
                a.command = arg;
            else
                a.operands.push_back(arg);
        } else {
            throw UsageError("unknown option '" + arg + "'");
        }
    }
    return a;
}

std::string ascii(const std::string& bytes) {
    std::string out;
    for (const char c : bytes)
        out +=
            static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f ? c : '?';
    return out;
}

// The cap that keeps every check's socket within the process's open-file limit; the soft
// limit is raised to the hard one first.
int jobsAllowed() {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0)
        return 256;
    if (lim.rlim_cur < lim.rlim_max) {
        rlimit raised = lim;
        raised.rlim_cur = lim.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            lim = raised;
    }
    const long long files = lim.rlim_cur == RLIM_INFINITY ? kMaxJobs + kReservedFiles
                                                          : static_cast<long long>(lim.rlim_cur);
    return static_cast<int>(std::clamp<long long>(files - kReservedFiles, 1, kMaxJobs));
}

// The three source-group marks from "domestic,foreign,custom"; by default the window's saved
// choice.
void applyGroups(CliHost& host, const std::optional<std::string>& groups) {
    bool marks[3] = {false, false, false};
    if (!groups) {
        std::string saved = SettingsStore("VORSASOFT", "vorsadaili").readString("downoption");
        if (saved.size() != 3)
            saved = "100";
        for (int i = 0; i < 3; ++i)
            marks[i] = saved[static_cast<std::size_t>(i)] == '1';
    } else {
        std::size_t start = 0;
        for (;;) {
            const auto comma = groups->find(',', start);
            const std::string word = groups->substr(start, comma - start);
            if (word == "domestic")
                marks[0] = true;
            else if (word == "foreign")
                marks[1] = true;
            else if (word == "custom")
                marks[2] = true;
            else
                throw UsageError("unknown source group '" + ascii(word) +
                                 "' (domestic, foreign or custom)");
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    if (!marks[0] && !marks[1] && !marks[2])
        marks[0] = true;  // what the window does with an unusable saved choice
    host.setSourceGroups(marks[0], marks[1], marks[2]);
}

// The ip:port pairs already in an unsorted table that only grows at its end: open addressing
// over row numbers, each slot carrying the upper half of its hash (which also places it), so
// that growing and most probes never touch a record. A million rows cost 32 MB of slots and no
// allocation per row.
class RowIndex {
public:
    explicit RowIndex(const ProxyTable& table) : m_table(table), m_slots(1024, 0) {}

    // True when ip:port was not there yet; the caller then appends it as the next row.
    bool insertIfNew(std::string_view ip, std::string_view port) {
        if ((m_rows + 1) * 2 > m_slots.size())
            grow();
        const std::uint64_t tag = hash(ip, port) & kTagMask;
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = (tag >> 32) & mask;; i = (i + 1) & mask) {
            const std::uint64_t slot = m_slots[i];
            if (slot == 0) {
                m_slots[i] = tag | ++m_rows;
                return true;
            }
            if ((slot & kTagMask) != tag)
                continue;
            const ProxyRecord& rec = m_table.at(static_cast<int>(slot & ~kTagMask));
            if (rec.Ip && rec.Port && *rec.Ip == ip && *rec.Port == port)
                return false;
        }
    }

private:
    static constexpr std::uint64_t kTagMask = 0xffffffff00000000ULL;

    static std::uint64_t hash(std::string_view ip, std::string_view port) {
        std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a, then a final mix
        for (const char c : ip)
            h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
        h = (h ^ ':') * 0x100000001b3ULL;
        for (const char c : port)
            h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        return h;
    }
    // A slot's place comes from its tag alone, so growing never reads a record.
    void grow() {
        std::vector<std::uint64_t> slots(m_slots.size() * 2, 0);
        const std::size_t mask = slots.size() - 1;
        for (const std::uint64_t slot : m_slots) {
            if (slot == 0)
                continue;
            std::size_t i = (slot >> 32) & mask;
            while (slots[i] != 0)
                i = (i + 1) & mask;
            slots[i] = slot;
        }
        m_slots.swap(slots);
    }

    const ProxyTable& m_table;
    std::vector<std::uint64_t> m_slots;
    std::uint64_t m_rows = 0;
};

class Cli {
public:
    explicit Cli(Args args) : m_args(std::move(args)) {}
    int run();

private:
    int harvest();
    int check();
    int runBoth();
    int lookup();
    int list();
    int proxy();

    void checkOperands(std::size_t maxOperands);
    // Reads the list of the command's operand (or standard input) into the table. False
    // (after a message) when it cannot be read at all.
    bool readInput();
    // Harvests into the table; false when it was stopped.
    bool harvestInto();
    // Checks the table; false when it was stopped.
    bool checkTable();
    // Writes the table where -o and --format say; returns the exit status.
    int writeResult(bool interrupted, bool withLocation = false);
    void pumpUntil(const std::function<bool()>& done);
    void message(const std::string& text) {
        m_host.endStatusLine();
        std::fprintf(stderr, "vorsa-cli: %s\n", text.c_str());
    }

    Args m_args;
    CliHost m_host;
    std::unique_ptr<tdaili> m_daili;
};

void Cli::checkOperands(std::size_t maxOperands) {
    if (m_args.operands.size() > maxOperands)
        throw UsageError("unexpected argument '" + ascii(m_args.operands[maxOperands]) + "'");
}

int Cli::run() {
    const std::string& c = m_args.command;
    if (c.empty())
        throw UsageError("no command given (see vorsa-cli --help)");
    const bool listOutput =
        c == "harvest" || c == "check" || c == "run" || c == "lookup" || c == "list";
    if (!listOutput && c != "proxy")
        throw UsageError("unknown command '" + ascii(c) + "' (see vorsa-cli --help)");
    if (!listOutput && (m_args.output || m_args.format))
        throw UsageError("-o and --format do not apply to '" + c + "'");
    if (m_args.format && *m_args.format != Format::Txt && !m_args.output)
        throw UsageError("--format html, csv and json need -o FILE");
    if (m_args.groups && c != "harvest" && c != "run")
        throw UsageError("--groups applies to harvest and run only");
    if ((m_args.jobsGiven || m_args.paceMs != 0) && c != "check" && c != "run")
        throw UsageError("--jobs and --pace apply to check and run only");
    if (m_args.jobs < 1)
        throw UsageError("--jobs must be at least 1");
    if (m_args.paceMs < 0 || m_args.paceMs > 3600000)
        throw UsageError("--pace must be 0..3600000 milliseconds");
    if (c == "harvest" || c == "run") {
        checkOperands(0);
        applyGroups(m_host, m_args.groups);
    }
    if (c == "harvest")
        return harvest();
    if (c == "check")
        return check();
    if (c == "run")
        return runBoth();
    if (c == "lookup")
        return lookup();
    if (c == "list")
        return list();
    return proxy();
}

void Cli::pumpUntil(const std::function<bool()>& done) {
    QTimer tick;
    tick.start(50);
    while (!done() && !g_cliStopRequested.load())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

bool Cli::readInput() {
    checkOperands(1);
    const std::string path = m_args.operands.empty() ? "-" : m_args.operands.front();
    int fd = STDIN_FILENO;
    if (path != "-") {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            message("cannot open " + path + ": " + std::strerror(errno));
            return false;
        }
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        message(path + " is a directory, not a list of ip:port lines");
        if (fd != STDIN_FILENO)
            ::close(fd);
        return false;
    }
    ProxyTable& table = m_host.table();
    cleartable(table);
    table.opentable();
    // A repeated ip:port is checked once; the first is kept. (Not one row per address as after
    // a harvest: a list may name several proxies on one address.)
    RowIndex seen(table);
    ListReader reader;
    std::string error;
    const bool ok = reader.read(
        fd,
        [&](std::string_view ip, std::string_view port) {
            if (!seen.insertIfNew(ip, port))
                return;
            table.addrecord();
            table.setfield(Field::Ip, ip);
            table.setfield(Field::Port, port);
            table.postrecord();
        },
        error, [] { return g_cliStopRequested.load(); });
    if (fd != STDIN_FILENO)
        ::close(fd);
    if (!ok) {
        message("cannot read " + path + ": " + error);
        return false;
    }
    const ListReader::Counts& n = reader.counts();
    if (n.skipped > 0)
        message(std::to_string(n.skipped) + " of " + std::to_string(n.lines) +
                " lines skipped: not ip:port with a port 1..65535" +
                (n.tooLong ? " (" + std::to_string(n.tooLong) + " longer than " +
                                 std::to_string(ListReader::kMaxLine) + " bytes)"
                           : std::string()));
    if (n.endedAtNul)
        message("the input ends at a NUL byte; what follows it was not read");
    return true;
}

bool Cli::harvestInto() {
    // Creating the coordinator starts the link discovery; the window has it done long before
    // its first harvest, so the harvest here waits for it.
    m_daili = std::make_unique<tdaili>(m_host);
    m_daili->OnMessage = [this](const std::string& text) { m_host.showinfo(text); };
    pumpUntil([] { return harvestRunningWorkers() == 0; });
    if (!g_cliStopRequested.load()) {
        m_host.runCommand([this] { actdownExecute(m_host, *m_daili); });
        pumpUntil([this] { return m_daili->JobCount == 0 && !m_host.state().Busy; });
    }
    if (!g_cliStopRequested.load())
        return true;
    // Stopped: rows of workers still running are dropped from here on; what arrived is
    // de-duplicated as the harvest's end would have done.
    harvestShutdown();
    m_host.state().Busy = false;
    if (m_host.table().count() > 0)
        listtable(m_host);
    return false;
}

bool Cli::checkTable() {
    int jobs = static_cast<int>(std::min<long long>(m_args.jobs, kMaxJobs));
    const int allowed = jobsAllowed();
    if (m_args.jobs > allowed) {
        message("--jobs " + std::to_string(m_args.jobs) + " is more than the open-file limit " +
                "allows; using " + std::to_string(allowed));
        jobs = allowed;
    }
    for (const std::string& problem : checkSettings().problems)
        message(terminalText(problem));

    CheckLoop::Options options;
    options.jobs = jobs;
    options.paceMs = static_cast<int>(m_args.paceMs);
    options.stopRequested = [] { return g_cliStopRequested.load(); };
    if (m_host.statusOnTerminal()) {
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        options.progress = [this, clock](int done, int total, int passed) {
            const double seconds = std::max<qint64>(clock->elapsed(), 1) / 1000.0;
            const double rate = done / seconds;
            const long left = rate > 0 ? static_cast<long>((total - done) / rate) : 0;
            char line[160];
            std::snprintf(line, sizeof line, "%d/%d checked, %d passed, %.0f checks/s, %lds left",
                          done, total, passed, rate, left);
            m_host.showinfo(line);
        };
    }
    CheckLoop loop(options);
    const bool finished = loop.run(m_host.table());
    m_host.endStatusLine();
    return finished && !g_cliStopRequested.load();
}

int Cli::writeResult(bool interrupted, bool withLocation) {
    m_host.endStatusLine();
    ProxyTable& table = m_host.table();
    table.opentable();
    const int rows = table.count();
    const int nothing = interrupted ? kInterrupted : 1;
    if (m_host.failed() && rows == 0)
        return nothing;
    if (rows == 0) {
        message("no usable proxy");
        return nothing;
    }
    if (!m_args.output) {
        std::string out;
        for (int i = 1; i <= rows; ++i) {
            const ProxyRecord& rec = table.at(i);
            out += terminalText(gbk::trim(rec.text(Field::Ip)) + ":" +
                                gbk::trim(rec.text(Field::Port)));
            if (withLocation)
                out += "\t" + terminalText(gbk::trim(rec.text(Field::Location)));
            out += '\n';
            if (out.size() >= (1 << 16)) {
                std::fwrite(out.data(), 1, out.size(), stdout);
                out.clear();
            }
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        return interrupted ? kInterrupted : 0;
    }
    Format format = Format::Txt;
    if (m_args.format) {
        format = *m_args.format;
    } else {
        const std::string& name = *m_args.output;
        const auto dot = name.rfind('.');
        const auto slash = name.rfind('/');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
            format = formatNamed(name.substr(dot + 1)).value_or(Format::Txt);
    }
    bool written = false;
    m_host.runCommand([&] {
        switch (format) {
            case Format::Txt:
                exportlist(table, *m_args.output, TextList);
                break;
            case Format::Html:
                exportlist(table, *m_args.output, HtmlTable);
                break;
            case Format::Csv:
                exportlist(table, *m_args.output, CsvTable);
                break;
            case Format::Json:
                exportjson(table, *m_args.output);
                break;
        }
        written = true;
    });
    if (!written)
        return 1;
    return interrupted ? kInterrupted : 0;
}

int Cli::harvest() {
    const bool finished = harvestInto();
    return writeResult(!finished);
}

int Cli::check() {
    if (!readInput())
        return 1;
    if (m_host.table().count() == 0)
        return writeResult(g_cliStopRequested.load());
    const bool finished = checkTable();
    return writeResult(!finished);
}

int Cli::runBoth() {
    if (!harvestInto())
        return writeResult(true);
    if (m_host.table().count() == 0)
        return writeResult(false);
    const bool finished = checkTable();
    return writeResult(!finished);
}

int Cli::lookup() {
    if (!readInput())
        return 1;
    bool interrupted = false;
    m_host.setInterruptCheck([] { return g_cliStopRequested.load(); });
    try {
        m_host.runCommand([this] { getcity(m_host); });
    } catch (const CliHost::Interrupted&) {
        interrupted = true;
    }
    m_host.setInterruptCheck(nullptr);
    return writeResult(interrupted || g_cliStopRequested.load(), true);
}

int Cli::list() {
    if (!readInput())
        return 1;
    return writeResult(g_cliStopRequested.load());
}

int Cli::proxy() {
    const std::vector<std::string>& ops = m_args.operands;
    if (ops.empty())
        throw UsageError("proxy needs get, set HOST:PORT or off");
    const std::string& what = ops.front();
    if (what == "get") {
        checkOperands(1);
        std::printf("%s\n", terminalText(startupProxyText()).c_str());
        return 0;
    }
    if (what == "set") {
        if (ops.size() < 2)
            throw UsageError("proxy set needs HOST:PORT");
        checkOperands(2);
        const auto entry = parseProxyEntry(ops[1]);
        if (!entry || entry->port == 0 || ops[1].front() == '[')
            throw UsageError("'" + ascii(ops[1]) + "' is not HOST:PORT with a port 1..65535");
        m_host.runCommand([&] { setproxy(m_host, ops[1]); });
    } else if (what == "off") {
        checkOperands(1);
        m_host.runCommand([&] { disableproxy(m_host); });
    } else {
        throw UsageError("unknown proxy action '" + ascii(what) + "' (get, set or off)");
    }
    if (m_host.failed())
        return 1;
    std::printf("%s\n", terminalText(m_host.panel2()).c_str());
    return 0;
}

}  // namespace

int runCli(const std::vector<std::string>& args) {
    try {
        for (const std::string& arg : args) {
            if (arg == "--help" || arg == "-h") {
                std::fputs(kHelp, stdout);
                return 0;
            }
            if (arg == "--version") {
                std::printf("vorsa-cli %s\n", VORSA_VERSION);
                return 0;
            }
        }
        Cli cli(parseArgs(args));
        return cli.run();
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vorsa-cli: %s\n", e.what());
        return kUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorsa-cli: %s\n", terminalText(e.what()).c_str());
        return 1;
    }
}

}  // namespace vorsa
