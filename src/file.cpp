// kit::File: whole-file reads and change polling by modification second and,
// within that second, by content.
#include "file.h"

#include <sys/stat.h>

#include <fstream>
#include <ios>
#include <stdexcept>

namespace kit {

File::File(const std::string& file_path) : mtime(0), path(file_path) {}

std::string File::raw_read() const
{
    std::ifstream in(path, std::ios_base::in | std::ios_base::binary);
    if (in.fail())
        throw std::runtime_error("can't open: " + path);
    in.exceptions(std::ios_base::badbit | std::ios_base::failbit | std::ios_base::eofbit);

    // The stream's own offset type, so that lengths past 32 bits are not wrapped.
    in.seekg(0, std::ios_base::end);
    const std::streamoff length = in.tellg();
    in.seekg(0, std::ios_base::beg);
    // A directory opens and reports a huge length but yields no byte: fail on
    // the first byte rather than allocate that length.
    if (length > 0)
        in.peek();

    std::string text(static_cast<std::string::size_type>(length), '\0');
    // A file that shrank since the size query hits end-of-file and throws.
    in.read(&text[0], static_cast<std::streamsize>(length));
    in.close();
    return text;
}

std::string File::read()
{
    struct stat st;
    // A file that has gone records 0, so has_changed keeps reporting a change
    // until it is back; raw_read below then throws the open error.
    mtime = stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
    content = raw_read();
    return content;
}

bool File::has_changed() const
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return true;
    if (st.st_mtime != mtime)
        return true;
    if (time(nullptr) != mtime) {
        // No write can land in the recorded second any more: the timestamp
        // alone decides from now on, so the cached text can go. A second save
        // may still have landed in that second after its last poll, so the
        // bytes are compared once more first. An empty cache has gone already
        // (or stands for an empty file); a file that cannot be read now shows
        // no change.
        bool changed = false;
        if (!content.empty()) {
            try {
                changed = raw_read() != content;
            } catch (const std::exception&) {
            }
        }
        if (!changed)
            std::string().swap(content);
        return changed;
    }
    // Still inside the modification second: a second write may have kept the
    // timestamp, so only the bytes can tell.
    return raw_read() != content;
}

}  // namespace kit
