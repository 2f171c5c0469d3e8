#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vorsa {

// Reads an ip:port list as a stream, by the rules of the import: lines end at CR LF, a lone CR
// or a lone LF, the text ends at its first NUL byte, and a line is split at its first ':' into
// address and port. Memory stays bounded whatever comes in: a line longer than kMaxLine is
// skipped without being kept. Only lines that name a usable proxy (a plain host of at most
// the address field's size and a port 1..65535, blanks around either trimmed) are handed on;
// the others are counted (the heading line of our own text export is neither).
class ListReader {
public:
    static constexpr std::size_t kMaxLine = 4096;
    using Row = std::function<void(std::string_view ip, std::string_view port)>;

    struct Counts {
        long long lines = 0;    // lines seen, blank ones included
        long long usable = 0;   // handed to row
        long long skipped = 0;  // not blank and not a usable ip:port
        long long tooLong = 0;  // of the skipped: longer than kMaxLine
        bool endedAtNul = false;
    };

    // Reads fd to its end (or to the first NUL, or until stop, asked between blocks, says
    // so). False with a message (UTF-8) when reading failed; the rows before the failure were
    // handed on.
    bool read(int fd, const Row& row, std::string& error,
              const std::function<bool()>& stop = nullptr);
    const Counts& counts() const { return m_counts; }

    // The address and port of one line when it is usable, by the rule above.
    static bool usableLine(std::string_view line, std::string& ip, std::string& port);

private:
    void endLine(const Row& row);

    Counts m_counts;
    std::string m_line;
    bool m_overlong = false;
};

}  // namespace vorsa
