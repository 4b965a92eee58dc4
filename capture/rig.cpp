// The rig's recording: its settings, which process records (the claim), the
// outputs it opens only then, and what each frame writes there (the output
// stage: frames saved, streamed, kept at the first size). The contract is in
// rig.h.
#include "rig.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
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

// Little-endian, as WAV files hold their numbers.
void put(unsigned char* at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Every byte of `pieces`, in order, however the descriptor takes them.
void write_all(int fd, std::vector<iovec>& pieces, const char* variable)
{
    size_t next = 0;
    while (next < pieces.size()) {
        const int count = static_cast<int>(std::min<size_t>(pieces.size() - next, IOV_MAX));
        ssize_t written = writev(fd, &pieces[next], count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            die(std::string(variable) + ": write failed: " + std::strerror(errno));
        while (next < pieces.size() && static_cast<size_t>(written) >= pieces[next].iov_len)
            written -= static_cast<ssize_t>(pieces[next++].iov_len);
        if (next < pieces.size()) {
            pieces[next].iov_base = static_cast<char*>(pieces[next].iov_base) + written;
            pieces[next].iov_len -= static_cast<size_t>(written);
        }
    }
}

void write_at(int fd, const unsigned char (&bytes)[4], off_t at)
{
    if (pwrite(fd, bytes, 4, at) != 4)
        die(std::string("RIG_AUDIO: write failed: ") + std::strerror(errno));
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

// A stream named by a path is opened when it is first written (a FIFO's open
// waits for its reader); `path` is cleared then.
void open_stream(std::string& path, int& fd, const char* variable)
{
    if (fd != -1 || path.empty())
        return;
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd == -1)
        die(std::string(variable) + ": cannot open " + path + ": " + std::strerror(errno));
    path.clear();
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

    bool recorded(uint64_t frame) const { return frame >= first_frame && frame < frame_limit; }
    bool past_end(uint64_t frame) const { return frame >= frame_limit; }
    bool wants_picture(uint64_t frame) const;
    bool streams_video() const { return video_fd != -1 || !video_path.empty(); }
    void record(uint64_t frame, const riglib::Picture* picture);
    void record_sound(uint64_t frame, const unsigned char* data, size_t bytes);
    void log_text(const std::string& line);
    bool logging() const { return log != nullptr; }

private:
    enum class Format { raw, ppm, rgba, yuv420p };

    std::string claim_name;  // "" when there are no outputs to keep to one process
    int claim_fd = -1;

    std::string frame_dir;
    bool save_all = false;
    std::vector<uint64_t> save_list;  // sorted
    std::string video_path;
    int video_fd = -1;
    Format video_format = Format::raw;
    uint64_t first_frame = 0;           // RIG_FROM
    uint64_t frame_limit = UINT64_MAX;  // RIG_FRAMES
    std::string log_path;
    FILE* log = nullptr;

    // The sound (RIG_AUDIO): a WAV file whose sizes are kept up to date, or a
    // stream of bare samples. Before the first picture of a video stream the
    // sound of each frame waits, to go out with its (black) frame.
    std::string sound_path;
    int sound_fd = -1;
    bool sound_stream = false;
    uint64_t sound_bytes = 0;
    std::vector<std::pair<uint64_t, std::vector<unsigned char>>> sound_waiting;
    // With both streamed, each frame's sound goes out before its picture, the
    // sound's stream opened first: a reader of both (an encoder) that opens
    // them in that order and reads a little of each as it opens it is then
    // never left waiting for one while the other is full.
    bool paced = false;

    // The recording's frames keep the first picture's size; `picture` is the
    // last one, at that size (in the GL's read-back or, scaled, in `scaled`),
    // and `encoded` it in the stream's format.
    int width = 0, height = 0;
    riglib::Rgba picture;
    std::vector<unsigned char> scaled, encoded;
    bool encoded_current = false;

    bool saves(uint64_t frame) const;
    void keep(const riglib::Picture& picture, uint64_t frame);
    void write(uint64_t frame);
    void save_ppm(uint64_t frame);
    void write_sound(const unsigned char* data, size_t bytes);
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

    // An inherited descriptor is named by its file, so that processes given
    // the same one (a wrapper and the program it execs) share a recording.
    const auto target = [&](const char* variable, std::string& path, int& fd, const char* what) {
        const std::string text = env(variable);
        if (text.rfind("fd:", 0) == 0) {
            fd = static_cast<int>(parse_number(text.substr(3), variable, INT32_MAX));
            struct stat info;
            if (fcntl(fd, F_GETFD) == -1 || fstat(fd, &info) != 0)
                die(std::string(variable) + ": file descriptor " + text.substr(3) + " is not open");
            outputs += std::string(what) + " " + std::to_string(info.st_dev) + ":" +
                       std::to_string(info.st_ino) + "\n";
        } else {
            path = absolute(text);
            check_writable(path, variable);
            outputs += std::string(what) + " " + path + "\n";
        }
    };
    if (env("RIG_VIDEO"))
        target("RIG_VIDEO", video_path, video_fd, "video");
    if (const char* text = env("RIG_FRAMES"))
        frame_limit = parse_number(text, "RIG_FRAMES");
    if (const char* text = env("RIG_FROM"))
        first_frame = parse_number(text, "RIG_FROM");
    if (const char* text = env("RIG_VIDEO_FORMAT")) {
        const std::string name = text;
        static const std::pair<const char*, Format> formats[] = {{"raw", Format::raw},
                                                                 {"ppm", Format::ppm},
                                                                 {"rgba", Format::rgba},
                                                                 {"yuv420p", Format::yuv420p}};
        bool known = false;
        for (const auto& [format_name, format] : formats)
            if (name == format_name) {
                video_format = format;
                known = true;
            }
        if (!known)
            die("RIG_VIDEO_FORMAT: \"" + name + "\" is not raw, ppm, rgba or yuv420p");
    }
    if (const char* path = env("RIG_LOG")) {
        log_path = absolute(path);
        check_writable(log_path, "RIG_LOG");
        outputs += "log " + log_path + "\n";
    }
    if (env("RIG_AUDIO")) {
        target("RIG_AUDIO", sound_path, sound_fd, "audio");
        // A descriptor or a FIFO takes bare samples; a file, a WAV file whose
        // header is rewritten as it grows.
        struct stat info;
        const bool exists = sound_fd == -1 && stat(sound_path.c_str(), &info) == 0;
        sound_stream = sound_fd != -1 || (exists && S_ISFIFO(info.st_mode));
        if (exists && !sound_stream && !S_ISREG(info.st_mode))
            die("RIG_AUDIO: " + sound_path + " is not a regular file or a FIFO");
    }

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
    for (const int fd : {video_fd, sound_fd})
        if (fd != -1)
            fcntl(fd, F_SETFD, FD_CLOEXEC);
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
// passes without one can repeat the last (also one before RIG_FROM).
bool Recording::wants_picture(uint64_t frame) const
{
    if (frame >= frame_limit)
        return false;
    return streams_video() || (!frame_dir.empty() && save_all) ||
           (!save_list.empty() && frame <= save_list.back());
}

// A picture of another size than the first is scaled into it, its aspect
// kept, centred between black bars; bilinear, so that text stays legible.
void Recording::keep(const riglib::Picture& read, uint64_t frame)
{
    const ptrdiff_t row = static_cast<ptrdiff_t>(width) * 4;
    encoded_current = false;
    if (read.width == width && read.height == height) {
        // The GL reads bottom row first; images and video go top row first.
        picture.top = read.rgba + row * (height - 1);
        picture.stride = -row;
        return;
    }
    static int reported_width = 0, reported_height = 0;
    if (read.width != reported_width || read.height != reported_height) {
        reported_width = read.width;
        reported_height = read.height;
        log_text("resize " + std::to_string(read.width) + "x" + std::to_string(read.height) + " " +
                 std::to_string(frame));
    }
    scaled.assign(static_cast<size_t>(row) * height, 0);
    for (size_t alpha = 3; alpha < scaled.size(); alpha += 4)
        scaled[alpha] = 255;
    picture.top = scaled.data();
    picture.stride = row;
    const double scale = std::min(static_cast<double>(width) / read.width,
                                  static_cast<double>(height) / read.height);
    const int inner_width = std::max(1, static_cast<int>(read.width * scale + 0.5));
    const int inner_height = std::max(1, static_cast<int>(read.height * scale + 0.5));
    const int left = (width - inner_width) / 2, top = (height - inner_height) / 2;
    const size_t source_row = static_cast<size_t>(read.width) * 4;
    for (int y = 0; y < inner_height; ++y) {
        // Source rows counted from the top, as the output's.
        const double sy = std::clamp((y + 0.5) / scale - 0.5, 0.0, read.height - 1.0);
        const int y0 = static_cast<int>(sy), y1 = std::min(y0 + 1, read.height - 1);
        const double fy = sy - y0;
        const unsigned char* row0 = &read.rgba[source_row * (read.height - 1 - y0)];
        const unsigned char* row1 = &read.rgba[source_row * (read.height - 1 - y1)];
        unsigned char* out = &scaled[row * (top + y) + static_cast<size_t>(left) * 4];
        for (int x = 0; x < inner_width; ++x) {
            const double sx = std::clamp((x + 0.5) / scale - 0.5, 0.0, read.width - 1.0);
            const int x0 = static_cast<int>(sx), x1 = std::min(x0 + 1, read.width - 1);
            const double fx = sx - x0;
            for (int c = 0; c < 3; ++c) {
                const double top_value = row0[x0 * 4 + c] * (1 - fx) + row0[x1 * 4 + c] * fx;
                const double bottom_value = row1[x0 * 4 + c] * (1 - fx) + row1[x1 * 4 + c] * fx;
                out[x * 4 + c] =
                    static_cast<unsigned char>(top_value * (1 - fy) + bottom_value * fy + 0.5);
            }
        }
    }
}

void Recording::record(uint64_t frame, const riglib::Picture* read)
{
    if (frame >= frame_limit)
        return;
    if (read && width == 0) {
        // The first picture sets the recording's size; the frames that passed
        // before it (the program waited before it drew) are black, each with
        // the sound that waited for it.
        // A reader of both streams learns the sound's format before either
        // flows, and the silence before the track began waits with the rest.
        if (streams_video())
            riglib::sound_ready();
        width = read->width;
        height = read->height;
        scaled.assign(static_cast<size_t>(width) * height * 4, 0);
        for (size_t alpha = 3; alpha < scaled.size(); alpha += 4)
            scaled[alpha] = 255;
        picture = {width, height, scaled.data(), static_cast<ptrdiff_t>(width) * 4};
        log_text("video " + std::to_string(width) + "x" + std::to_string(height));
        paced = streams_video() && sound_stream && riglib::sound_taken_over();
        for (uint64_t before = first_frame; before < frame; ++before) {
            for (const auto& [sound_frame, bytes] : sound_waiting)
                if (sound_frame == before)
                    write_sound(bytes.data(), bytes.size());
            write(before);
        }
        sound_waiting.clear();
    }
    if (width == 0)
        return;  // no picture yet: written as black once the first comes
    if (read)
        keep(*read, frame);
    // Paced, the picture follows its frame's sound.
    if (frame >= first_frame && !paced)
        write(frame);
}

void Recording::write(uint64_t frame)
{
    if (saves(frame))
        save_ppm(frame);
    open_stream(video_path, video_fd, "RIG_VIDEO");
    if (video_fd == -1)
        return;
    // A frame that repeats the last picture writes what it encoded again.
    if (!encoded_current && video_format != Format::rgba) {
        encoded_current = true;
        if (video_format == Format::yuv420p) {
            encoded.resize(riglib::yuv420p_size(width, height));
            riglib::to_yuv420p(picture, encoded.data());
        } else {
            char header[64];
            const int length =
                video_format == Format::ppm
                    ? std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", width, height)
                    : 0;
            encoded.assign(header, header + length);
            encoded.resize(length + static_cast<size_t>(width) * height * 3);
            riglib::to_rgb24(picture, encoded.data() + length);
        }
    }
    if (video_format == Format::rgba) {
        // Straight from the read-back, a row at a time from the top.
        std::vector<iovec> rows(static_cast<size_t>(height));
        for (int y = 0; y < height; ++y)
            rows[static_cast<size_t>(y)] = {
                const_cast<unsigned char*>(picture.top + picture.stride * y),
                static_cast<size_t>(width) * 4};
        write_all(video_fd, rows, "RIG_VIDEO");
    } else {
        std::vector<iovec> whole{{encoded.data(), encoded.size()}};
        write_all(video_fd, whole, "RIG_VIDEO");
    }
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
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    riglib::to_rgb24(picture, rgb.data());
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    const bool written = std::fwrite(rgb.data(), 1, rgb.size(), file) == rgb.size();
    if (std::fclose(file) != 0 || !written)
        die("cannot write " + path + ": " + std::strerror(errno));
}

void Recording::record_sound(uint64_t frame, const unsigned char* data, size_t bytes)
{
    if (!recorded(frame))
        return;
    if (streams_video() && width == 0) {
        sound_waiting.emplace_back(frame, std::vector<unsigned char>(data, data + bytes));
        return;
    }
    write_sound(data, bytes);
    if (frame + 1 == frame_limit && sound_stream) {
        close(sound_fd);
        sound_fd = -1;
    }
    if (paced)
        write(frame);
}

void Recording::write_sound(const unsigned char* data, size_t bytes)
{
    const riglib::SoundFormat track = riglib::track_format();
    const int sample_size = riglib::sample_bytes(track.format);
    if (sound_fd == -1 && !sound_stream) {
        // The WAV file, made at the track's first frame; its two sizes are
        // filled in as samples arrive, so that it is whole however the program ends.
        sound_fd = open(sound_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (sound_fd == -1)
            die("RIG_AUDIO: cannot open " + sound_path + ": " + std::strerror(errno));
        const uint32_t block = static_cast<uint32_t>(track.channels * sample_size);
        unsigned char header[44];
        std::memcpy(header, "RIFF\0\0\0\0WAVEfmt ", 16);
        put(header + 16, 16, 4);
        put(header + 20, (track.format & 0x0100) ? 3 : 1, 2);  // float or integer PCM
        put(header + 22, static_cast<uint32_t>(track.channels), 2);
        put(header + 24, static_cast<uint32_t>(track.rate), 4);
        put(header + 28, static_cast<uint32_t>(track.rate) * block, 4);
        put(header + 32, block, 2);
        put(header + 34, static_cast<uint32_t>(sample_size * 8), 2);
        std::memcpy(header + 36, "data\0\0\0\0", 8);
        std::vector<iovec> whole{{header, sizeof header}};
        write_all(sound_fd, whole, "RIG_AUDIO");
    }
    if (sound_stream)
        open_stream(sound_path, sound_fd, "RIG_AUDIO");
    if (sound_fd == -1)
        return;
    std::vector<iovec> whole{{const_cast<unsigned char*>(data), bytes}};
    write_all(sound_fd, whole, "RIG_AUDIO");
    sound_bytes += bytes;
    if (!sound_stream) {
        unsigned char size[4];
        put(size, static_cast<uint32_t>(std::min<uint64_t>(sound_bytes, UINT32_MAX - 36)), 4);
        write_at(sound_fd, size, 40);
        put(size, static_cast<uint32_t>(std::min<uint64_t>(sound_bytes + 36, UINT32_MAX)), 4);
        write_at(sound_fd, size, 4);
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
    riglib::sound_at_load();
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

bool past_end(uint64_t frame)
{
    return recording().past_end(frame);
}

bool wants_picture(uint64_t frame)
{
    return recording().wants_picture(frame);
}

bool streams_video()
{
    return recording().streams_video();
}

void record_sound(uint64_t frame, const unsigned char* data, size_t bytes)
{
    recording().record_sound(frame, data, bytes);
}

void record(uint64_t frame, const Picture* picture)
{
    recording().record(frame, picture);
}

}  // namespace riglib
