#pragma once

#include <string>

namespace vorsa {

// The single-instance guard: a lock file named after the guard in the user's runtime folder,
// held with flock() for the life of the process. The kernel drops the lock when the process
// ends, however it ends, so a crashed instance never blocks the next start.
class SingleInstance {
public:
    enum class Result { FirstInstance, AlreadyRunning, Failed };

    explicit SingleInstance(const std::string& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Result result() const { return m_result; }
    const std::string& lockPath() const { return m_path; }

private:
    int m_fd = -1;
    Result m_result = Result::Failed;
    std::string m_path;
};

}  // namespace vorsa
