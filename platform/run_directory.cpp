#include "run_directory.h"

#include "codec.h"

#include <dirent.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vorsa {

namespace {

// Well below NAME_MAX (255), leaving room for the download's temporary name beside it.
constexpr std::size_t kMaxNameBytes = 200;

std::atomic<unsigned long> g_jobCounter{0};

bool isWritableDirectory(const char* dir) {
    if (!dir || !*dir)
        return false;
    struct stat st {};
    return ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir, W_OK | X_OK) == 0;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    // FTW_PHYS: a symbolic link is removed itself, never what it points to.
    ::remove(path);
    return 0;
}

void removeTree(const std::string& path) {
    ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

// Folders of earlier runs that were killed (a normal end removes its own): our name, our
// owner, and a process id that no longer exists. A live process, even an unrelated one that
// got the same id, keeps its folder.
void removeAbandonedFolders(const std::string& base) {
    DIR* dir = ::opendir(base.c_str());
    if (!dir)
        return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.rfind("vorsa-", 0) != 0)
            continue;
        const std::size_t dash = name.find('-', 6);
        if (dash == std::string::npos || dash == 6 || dash > 16 || name.size() != dash + 7)
            continue;
        if (name.find_first_not_of("0123456789", 6) != dash)
            continue;
        const std::string path = base + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            continue;
        const long pid = std::strtol(name.c_str() + 6, nullptr, 10);
        if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 ||
            errno != ESRCH)
            continue;
        removeTree(path);
    }
    ::closedir(dir);
}

std::runtime_error systemError(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

RunDirectory& RunDirectory::instance() {
    // Never destroyed: workers still running at exit may ask for it. The folder itself goes
    // at exit; a job that asks for a folder after that gets an exception, not a new folder.
    static RunDirectory* dir = [] {
        auto* d = new RunDirectory;
        // The program itself leaves through quick_exit (running threads are not waited
        // for), which runs only the at_quick_exit handlers.
        std::atexit([] { instance().removeAll(); });
        std::at_quick_exit([] { instance().removeAll(); });
        return d;
    }();
    return *dir;
}

RunDirectory::RunDirectory() {
    std::string base;
    if (isWritableDirectory(std::getenv("XDG_RUNTIME_DIR")))
        base = std::getenv("XDG_RUNTIME_DIR");
    else if (isWritableDirectory(std::getenv("TMPDIR")))
        base = std::getenv("TMPDIR");
    else
        base = "/tmp";
    removeAbandonedFolders(base);
    std::string tmpl = base + "/vorsa-" + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        throw systemError("cannot create the run directory", tmpl);
    ::chmod(tmpl.c_str(), 0700);  // mkdtemp already makes it 0700; the umask cannot widen it
    m_path = tmpl;
    m_ownerPid = ::getpid();
}

void RunDirectory::removeAll() {
    // A forked child inherits this object but not the folder.
    if (m_removed.exchange(true) || ::getpid() != m_ownerPid)
        return;
    removeTree(m_path);
}

const std::string& RunDirectory::path() const {
    return m_path;
}

std::string RunDirectory::createJobDirectory(std::string_view tag) {
    const std::string name = safeFileName(tag);
    if (m_removed)
        throw std::runtime_error("the run directory is gone (the program is ending)");
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string dir =
            m_path + "/" + name + "-" + std::to_string(g_jobCounter.fetch_add(1) + 1);
        if (::mkdir(dir.c_str(), 0700) == 0)
            return dir;
        if (errno == ENOENT && !m_removed) {
            // Someone cleaned the temp folder under a long-running program: make it again.
            if (::mkdir(m_path.c_str(), 0700) != 0 && errno != EEXIST)
                throw systemError("cannot create the run directory", m_path);
            continue;
        }
        if (errno != EEXIST)
            throw systemError("cannot create a job directory", dir);
    }
    throw std::runtime_error("cannot create a job directory in " + m_path);
}

void RunDirectory::removeJobDirectory(const std::string& dir) {
    const std::string prefix = m_path + "/";
    if (dir.size() <= prefix.size() || dir.compare(0, prefix.size(), prefix) != 0)
        return;
    if (dir.find('/', prefix.size()) != std::string::npos)
        return;
    const std::string name = dir.substr(prefix.size());
    if (name == "." || name == "..")
        return;
    removeTree(dir);
}

std::string RunDirectory::safeFileName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name)
        out.push_back(c == '/' || c == '\0' ? '_' : c);
    // '/' and NUL never occur as the second byte of a GBK character, so the cut stays clean.
    if (out.size() > kMaxNameBytes)
        out = gbk::cut(out, kMaxNameBytes);
    if (out.empty() || out == "." || out == "..")
        out.insert(out.begin(), '_');
    return out;
}

std::string RunDirectory::filePath(const std::string& dir, std::string_view name) {
    return dir + "/" + safeFileName(name);
}

}  // namespace vorsa
