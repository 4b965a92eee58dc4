// The rig's recording: its settings, which process records (the claim), the
// outputs it opens only then, and what each frame writes there (the output
// stage: frames saved, streamed, kept at the first size). The contract is in
// rig.h.
#include "rig.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "parts.h"
#include "schedule.h"

namespace {

[[noreturn]] void die(const std::string& message)
{
    std::fprintf(stderr, "rig: %s\n", message.c_str());
    std::fflush(stderr);
    _exit(RIG_EXIT_STATUS);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type begin = 0;
    for (;;) {
        const std::string::size_type end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end - begin));
        if (end == std::string::npos)
            return parts;
        begin = end + 1;
    }
}

// Plain decimal digits only, as the clock's settings (schedule.h).
uint32_t parse_number(const std::string& text, const char* variable, uint64_t max = UINT32_MAX)
{
    uint32_t value = 0;
    try {
        value = schedule::number(text, variable);
    } catch (const schedule::Refused& refused) {
        die(refused.what());
    }
    if (value > max)
        die(std::string(variable) + ": " + text + " is out of range");
    return value;
}

const char* env(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

std::string absolute(const std::string& path)
{
    if (path.empty() || path[0] == '/')
        return path;
    char here[4096];
    return getcwd(here, sizeof here) ? std::string(here) + "/" + path : path;
}

// An output path is checked at load, so that a bad one stops the program
// before it runs, without touching what is there: the recording opens it only
// in the process that records.
void check_writable(const std::string& path, const char* variable)
{
    struct stat info;
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    const bool exists = stat(path.c_str(), &info) == 0;
    if ((exists && access(path.c_str(), W_OK) != 0) ||
        (!exists && access(folder.empty() ? "." : folder.c_str(), W_OK) != 0))
        die(std::string(variable) + ": cannot open " + path + ": " + std::strerror(errno));
}

// The claim's abstract socket address (a name in no folder, gone with its process).
struct Address {
    explicit Address(const std::string& name)
    {
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        length = static_cast<socklen_t>(sizeof(sa_family_t) + 1 + name.size());
    }
    const sockaddr* socket() const { return reinterpret_cast<const sockaddr*>(&address); }

    sockaddr_un address{};
    socklen_t length = 0;
};

// The process's part, apart from the recording itself: every clock read asks
// for it, also while the recording is being set up (a sanitizer's runtime
// starting in a program without one reads the clock then).
std::atomic<riglib::Role> role_of_process{riglib::Role::candidate};

class Recording {
public:
    Recording();

    riglib::Role claim();

    bool recorded(uint64_t frame) const { return frame < frame_limit; }
    bool wants_picture(uint64_t frame) const;
    void record(uint64_t frame, const riglib::Picture* picture);
    void log_text(const std::string& line);
    bool logging() const { return log != nullptr; }

private:
    std::string claim_name;  // "" when there are no outputs to keep to one process
    int claim_fd = -1;

    std::string frame_dir;
    bool save_all = false;
    std::vector<uint64_t> save_list;  // sorted
    std::string video_path;
    int video_fd = -1;
    bool video_ppm = false;             // RIG_VIDEO_FORMAT=ppm: a header before each frame
    uint64_t frame_limit = UINT64_MAX;  // RIG_FRAMES
    std::string log_path;
    FILE* log = nullptr;

    // The recording's frames keep the first picture's size; `last` is the last
    // frame written, top row first, at that size.
    int width = 0, height = 0;
    std::vector<unsigned char> last;

    bool saves(uint64_t frame) const;
    void keep(const riglib::Picture& picture, uint64_t frame);
    void write(uint64_t frame);
    void save_ppm(uint64_t frame);
    void stream(const unsigned char* data, size_t size);
};

Recording::Recording()
{
    std::string outputs;  // what names this recording among processes
    const char* dir = env("RIG_FRAME_DIR");
    const char* save_text = env("RIG_SAVE_FRAMES");
    if (save_text && !dir)
        die("RIG_SAVE_FRAMES needs RIG_FRAME_DIR");
    if (dir) {
        struct stat info;
        if (stat(dir, &info) != 0 || !S_ISDIR(info.st_mode))
            die(std::string("RIG_FRAME_DIR: ") + dir + " is not a directory");
        frame_dir = absolute(dir);
        outputs += "frames " + frame_dir + "\n";
        save_all = !save_text || std::string(save_text) == "all";
        if (!save_all) {
            for (const std::string& entry : split(save_text, ','))
                save_list.push_back(parse_number(entry, "RIG_SAVE_FRAMES"));
            std::sort(save_list.begin(), save_list.end());
        }
    }

    if (const char* video = env("RIG_VIDEO")) {
        const std::string target = video;
        if (target.rfind("fd:", 0) == 0) {
            video_fd = static_cast<int>(parse_number(target.substr(3), "RIG_VIDEO", INT32_MAX));
            struct stat info;
            if (fcntl(video_fd, F_GETFD) == -1 || fstat(video_fd, &info) != 0)
                die("RIG_VIDEO: file descriptor " + target.substr(3) + " is not open");
            outputs +=
                "video " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + "\n";
        } else {
            video_path = absolute(target);
            check_writable(video_path, "RIG_VIDEO");
            outputs += "video " + video_path + "\n";
        }
    }
    if (const char* text = env("RIG_FRAMES"))
        frame_limit = parse_number(text, "RIG_FRAMES");
    if (const char* text = env("RIG_VIDEO_FORMAT")) {
        if (std::string(text) != "raw" && std::string(text) != "ppm")
            die(std::string("RIG_VIDEO_FORMAT: \"") + text + "\" is not raw or ppm");
        video_ppm = std::string(text) == "ppm";
    }
    if (const char* path = env("RIG_LOG")) {
        log_path = absolute(path);
        check_writable(log_path, "RIG_LOG");
        outputs += "log " + log_path + "\n";
    }
    if (const char* audio = env("RIG_AUDIO"))
        outputs += "audio " + absolute(audio) + "\n";

    if (!outputs.empty()) {
        // An abstract socket name, bound by the recorder for as long as it
        // lives: unique per set of outputs, gone with the process however it ends.
        uint64_t hash = 14695981039346656037ull;
        for (const char c : outputs)
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        char name[64];
        std::snprintf(name, sizeof name, "vorna-rig-%u-%016llx", static_cast<unsigned>(getuid()),
                      static_cast<unsigned long long>(hash));
        claim_name = name;
        // A process started after the recording was claimed (a child of the
        // program, or a program it runs) is left alone from the start.
        const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const Address address(claim_name);
        if (probe != -1 && connect(probe, address.socket(), address.length) == 0)
            role_of_process.store(riglib::Role::bystander);
        if (probe != -1)
            close(probe);
    }
}

riglib::Role Recording::claim()
{
    const riglib::Role now = role_of_process.load();
    if (now != riglib::Role::candidate)
        return now;
    if (!claim_name.empty()) {
        claim_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const Address address(claim_name);
        if (claim_fd == -1 || bind(claim_fd, address.socket(), address.length) != 0) {
            if (claim_fd != -1)
                close(claim_fd);
            claim_fd = -1;
            role_of_process.store(riglib::Role::bystander);
            return riglib::Role::bystander;
        }
    }
    if (!log_path.empty()) {
        log = std::fopen(log_path.c_str(), "we");
        if (!log)
            die("RIG_LOG: cannot open " + log_path + ": " + std::strerror(errno));
        // Line by line, so a crash or a kill still leaves every completed frame.
        setvbuf(log, nullptr, _IOLBF, 0);
    }
    // Only this process writes the stream: the programs it starts do not get it.
    if (video_fd != -1)
        fcntl(video_fd, F_SETFD, FD_CLOEXEC);
    role_of_process.store(riglib::Role::recorder);
    // Frames that passed before this process claimed (it waited before it
    // showed a window) are in the recording too.
    for (uint64_t frame = 0; frame < riglib::frame(); ++frame)
        log_text("frame " + std::to_string(frame) + " ticks " +
                 std::to_string(riglib::ticks(frame)) + " idle");
    return riglib::Role::recorder;
}

bool Recording::saves(uint64_t frame) const
{
    if (frame_dir.empty())
        return false;
    return save_all || std::binary_search(save_list.begin(), save_list.end(), frame);
}

// Every picture up to the last frame wanted is read, so that a frame that
// passes without one can repeat the last.
bool Recording::wants_picture(uint64_t frame) const
{
    if (frame >= frame_limit)
        return false;
    return video_fd != -1 || !video_path.empty() || (!frame_dir.empty() && save_all) ||
           (!save_list.empty() && frame <= save_list.back());
}

// A picture of another size than the first is scaled into it, its aspect
// kept, centred between black bars; bilinear, so that text stays legible.
void Recording::keep(const riglib::Picture& picture, uint64_t frame)
{
    const size_t row = static_cast<size_t>(width) * 3;
    if (picture.width == width && picture.height == height) {
        // The GL reads bottom row first; images and video go top row first.
        for (int y = 0; y < height; ++y)
            std::memcpy(&last[row * (height - 1 - y)], &picture.rgb[row * y], row);
        return;
    }
    static int reported_width = 0, reported_height = 0;
    if (picture.width != reported_width || picture.height != reported_height) {
        reported_width = picture.width;
        reported_height = picture.height;
        log_text("resize " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                 " " + std::to_string(frame));
    }
    std::fill(last.begin(), last.end(), 0);
    const double scale = std::min(static_cast<double>(width) / picture.width,
                                  static_cast<double>(height) / picture.height);
    const int inner_width = std::max(1, static_cast<int>(picture.width * scale + 0.5));
    const int inner_height = std::max(1, static_cast<int>(picture.height * scale + 0.5));
    const int left = (width - inner_width) / 2, top = (height - inner_height) / 2;
    const size_t source_row = static_cast<size_t>(picture.width) * 3;
    for (int y = 0; y < inner_height; ++y) {
        // Source rows counted from the top, as the output's.
        const double sy = std::clamp((y + 0.5) / scale - 0.5, 0.0, picture.height - 1.0);
        const int y0 = static_cast<int>(sy), y1 = std::min(y0 + 1, picture.height - 1);
        const double fy = sy - y0;
        const unsigned char* row0 = &picture.rgb[source_row * (picture.height - 1 - y0)];
        const unsigned char* row1 = &picture.rgb[source_row * (picture.height - 1 - y1)];
        unsigned char* out = &last[row * (top + y) + static_cast<size_t>(left) * 3];
        for (int x = 0; x < inner_width; ++x) {
            const double sx = std::clamp((x + 0.5) / scale - 0.5, 0.0, picture.width - 1.0);
            const int x0 = static_cast<int>(sx), x1 = std::min(x0 + 1, picture.width - 1);
            const double fx = sx - x0;
            for (int c = 0; c < 3; ++c) {
                const double top_value = row0[x0 * 3 + c] * (1 - fx) + row0[x1 * 3 + c] * fx;
                const double bottom_value = row1[x0 * 3 + c] * (1 - fx) + row1[x1 * 3 + c] * fx;
                out[x * 3 + c] =
                    static_cast<unsigned char>(top_value * (1 - fy) + bottom_value * fy + 0.5);
            }
        }
    }
}

void Recording::record(uint64_t frame, const riglib::Picture* picture)
{
    if (frame >= frame_limit)
        return;
    if (picture && width == 0) {
        // The first picture sets the recording's size; the frames that passed
        // before it (the program waited before it drew) are black.
        width = picture->width;
        height = picture->height;
        last.assign(static_cast<size_t>(width) * height * 3, 0);
        log_text("video " + std::to_string(width) + "x" + std::to_string(height));
        for (uint64_t before = 0; before < frame; ++before)
            write(before);
    }
    if (width == 0)
        return;  // no picture yet: written as black once the first comes
    if (picture)
        keep(*picture, frame);
    write(frame);
}

void Recording::write(uint64_t frame)
{
    if (saves(frame))
        save_ppm(frame);
    if (video_fd == -1 && !video_path.empty()) {
        // A FIFO's open waits for its reader.
        video_fd = open(video_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (video_fd == -1)
            die("RIG_VIDEO: cannot open " + video_path + ": " + std::strerror(errno));
        video_path.clear();
    }
    if (video_fd == -1)
        return;
    if (video_ppm) {
        char header[64];
        const int length = std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", width, height);
        stream(reinterpret_cast<const unsigned char*>(header), static_cast<size_t>(length));
    }
    stream(last.data(), last.size());
    // The reader sees the end of the stream at the last recorded frame,
    // however long the program takes to end after it.
    if (frame + 1 == frame_limit) {
        close(video_fd);
        video_fd = -1;
    }
}

void Recording::save_ppm(uint64_t frame)
{
    char name[64];
    std::snprintf(name, sizeof name, RIG_FRAME_FILE, static_cast<unsigned>(frame));
    const std::string path = frame_dir + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wbe");
    if (!file)
        die("cannot write " + path + ": " + std::strerror(errno));
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    const bool written = std::fwrite(last.data(), 1, last.size(), file) == last.size();
    if (std::fclose(file) != 0 || !written)
        die("cannot write " + path + ": " + std::strerror(errno));
}

void Recording::stream(const unsigned char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(video_fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            die(std::string("RIG_VIDEO: write failed: ") + std::strerror(errno));
        data += written;
        size -= static_cast<size_t>(written);
    }
}

// A write that fails (a full disk, /dev/full) may show only when the buffer
// goes out, so each line is flushed and the stream's error flag checked.
void Recording::log_text(const std::string& line)
{
    if (!log)
        return;
    std::fprintf(log, "%s\n", line.c_str());
    if (std::fflush(log) != 0 || std::ferror(log))
        die(std::string("RIG_LOG: write failed: ") + std::strerror(errno));
}

Recording& recording()
{
    static Recording instance;
    return instance;
}

// The rig's one load-time set-up: every variable is read now, so a bad one
// stops the program before it opens a window.
__attribute__((constructor)) void load()
{
    riglib::clock_at_load();
    riglib::events_at_load();
    recording();
    riglib::audio_at_load();
    // A process forked from the recorder (and not yet another program) is left alone.
    pthread_atfork(nullptr, nullptr, [] {
        if (role_of_process.load() == riglib::Role::recorder)
            role_of_process.store(riglib::Role::bystander);
    });
}

}  // namespace

namespace riglib {

void fail(const std::string& message)
{
    die(message);
}

const char* setting(const char* name)
{
    return env(name);
}

Role role()
{
    return role_of_process.load(std::memory_order_relaxed);
}

Role claim()
{
    return recording().claim();
}

void log_line(const std::string& line)
{
    recording().log_text(line);
}

bool logging()
{
    return recording().logging();
}

bool recorded(uint64_t frame)
{
    return recording().recorded(frame);
}

bool wants_picture(uint64_t frame)
{
    return recording().wants_picture(frame);
}

void record(uint64_t frame, const Picture* picture)
{
    recording().record(frame, picture);
}

}  // namespace riglib
