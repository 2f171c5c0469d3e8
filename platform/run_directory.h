#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace vorsa {

// Where every downloaded page is kept while it is parsed. The program's own temp-file places,
// "beside the executable" and "the current directory", both map to a job folder in here:
// beside the executable is not writable for an installed program (and would be shared by
// every user), and the working folder is the user's own. Names that come from downloaded or
// imported text only ever enter a path through safeFileName, so they cannot leave the folder.
class RunDirectory {
public:
    // The process's private folder (mode 0700) under $XDG_RUNTIME_DIR or the temp folder,
    // created on first use, removed (recursively, own files only) at normal exit.
    static RunDirectory& instance();
    const std::string& path() const;

    // A fresh subfolder for one job, unique per call even for the same tag ("cnp-3").
    // tag is a fixed ASCII name chosen by the program, never web text. Throws on failure.
    std::string createJobDirectory(std::string_view tag);

    // Removes a job folder made by createJobDirectory and everything in it; anything not
    // directly below path() is left alone.
    void removeJobDirectory(const std::string& dir);

    // A name that is safe as one path component: no '/', no NUL, not "." or "..", not empty,
    // bounded length; other bytes kept (a GBK or dotted-address name stays readable).
    static std::string safeFileName(std::string_view name);

    // dir + "/" + safeFileName(name)
    static std::string filePath(const std::string& dir, std::string_view name);

    RunDirectory(const RunDirectory&) = delete;
    RunDirectory& operator=(const RunDirectory&) = delete;

private:
    RunDirectory();
    ~RunDirectory() = delete;
    void removeAll();

    std::string m_path;
    int m_ownerPid = 0;
    std::atomic<bool> m_removed{false};
};

}  // namespace vorsa
