// kit::File: a file on disk that is read whole and polled for change. Polling
// is cheap once the file's modification second is over: one status query and
// one clock reading, no read.
#pragma once

#include <ctime>
#include <string>

namespace kit {

class File {
public:
    time_t mtime;                 // modification second seen by the last read; 0 before any
    const std::string path;       // as given; relative paths follow the working directory
    mutable std::string content;  // text of the last read, dropped once its second is over

    explicit File(const std::string& path);

    // The whole file, byte for byte (NULs included). Throws std::runtime_error
    // "can't open: <path>" or std::ios_base::failure on a later stream failure.
    std::string raw_read() const;

    // Records the modification second, then reads, caches and returns the text.
    // A file whose status cannot be read records 0, so it keeps counting as changed.
    std::string read();

    // True when the file differs from what the last read saw: another
    // modification second, or, within that second and at the first poll
    // after it, other bytes.
    bool has_changed() const;
};

}  // namespace kit
