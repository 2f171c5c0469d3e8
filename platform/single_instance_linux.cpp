#include "single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vorsa {
namespace {

std::string runtimeFolder() {
    if (const char* d = std::getenv("XDG_RUNTIME_DIR"); d && *d)
        return d;
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp");
}

}  // namespace

SingleInstance::SingleInstance(const std::string& name) {
    // Outside XDG_RUNTIME_DIR the folder is shared by all users: the uid keeps them apart.
    const bool privateFolder = std::getenv("XDG_RUNTIME_DIR") && *std::getenv("XDG_RUNTIME_DIR");
    m_path = runtimeFolder() + "/" + name +
             (privateFolder ? std::string() : "-" + std::to_string(::getuid())) + ".lock";
    m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        return;  // Failed: start-up goes on as a first instance
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        m_result = Result::FirstInstance;
    } else if (errno == EWOULDBLOCK) {
        m_result = Result::AlreadyRunning;
    }
}

SingleInstance::~SingleInstance() {
    if (m_fd >= 0)
        ::close(m_fd);
}

}  // namespace vorsa
