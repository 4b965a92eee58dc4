// The capture program: records the demo, or any X11 OpenGL program, frame
// exactly with its sound, as an MP4 video, a lossless Matroska file or a
// folder of PNG frames (or one frame as a PNG), through the preload rig
// (rig.h). tools/capture builds it and runs it; this is its interface.
//
//   tools/capture [-r FPS] [-o OUT] [-q CRF] [-s SECONDS] [-S SECONDS] [-t SECONDS]
//                 [-m MEDIA] [-b BUILD] [-d]
//   tools/capture [options] [-C DIR] -- PROGRAM [ARGS...]
//
//   -r FPS      frames per second, N or N/D, from 1 to 1000 (default 60; 60000/1001
//               for 59.94, 30000/1001, 24000/1001). Frame K reads K * D / N
//               seconds on every clock of the program, and holds the sound of
//               exactly that stretch of clock.
//   -o OUT      what is written, chosen by its name (default vorna.mp4,
//               vorna.png with -s, or PROGRAM's name .mp4/.png):
//                 NAME.mkv  lossless: FFV1 in RGB, whose decoded frames are the
//                           frames read back bit for bit, and FLAC sound
//                 NAME/     a folder of frame-00000.png... (numbered from 0, as
//                           a video's frames) and sound.wav
//                 any other MP4: H.264 and AAC
//               It appears only when complete, by a rename; only a regular file
//               (or one behind a link) is replaced, and only a folder that holds
//               nothing but frames and sound as capture writes them.
//   -q CRF      the MP4's H.264 quality, 0 (lossless luma) to 51 (default 18).
//   -s SECONDS  one frame as a PNG: the frame whose clock is nearest SECONDS.
//   -S SECONDS  start the recording at the first frame whose clock is at least
//               SECONDS: the program runs from 0 on the same clock, so the
//               frames are those of a whole recording; nothing before is
//               encoded or heard.
//   -t SECONDS  record every frame whose clock is at most -S plus SECONDS: the
//               program is then asked to quit (an SDL quit event; a window
//               manager's close for GLUT, GLFW and plain X programs) and
//               terminated when it has not ended 5 s later. Without -t the
//               recording lasts until the program ends.
//   -C DIR      the folder PROGRAM runs in (default: the current one); PROGRAM is
//               found as "cd DIR && PROGRAM" would find it.
//   -m MEDIA    the folder the demo runs in, with its music and images (default:
//               assets/ of this source tree).
//   -b BUILD    the build folder with the demo and the rig (default build/ of this
//               source tree); they are built there when missing or older than
//               their sources.
//   -d          draw on the current X display ($DISPLAY) instead of a private
//               virtual one (Xvfb), which by default keeps the result independent
//               of the screen and the graphics driver.
//
// The demo's recording holds 30 * FPS + 1 frames: it ends on its first frame
// past 30 s. Every output has the size of the program's first frame (the MP4's
// H.264, yuv420p with its index up front, padded to even sizes); a window that
// changes size is scaled into that first size, its aspect kept. The sound is
// what the program plays through SDL 1.2 or SDL 2 (every device, mixed) or
// OpenAL, at its own rate where the output allows (AAC takes 8000 to 96000 Hz
// at its own steps: another rate is resampled to the nearest, and said; FLAC
// keeps up to 24 bits); without any, a silent track. A device at a rate
// outside 8000 to 192000 Hz is refused as a real one would be, and said; so is
// sound played straight to ALSA or PulseAudio, which is not recorded.
//
// Exit status:
//   0   OUT written with every frame asked for (-t, the demo's whole run, or
//       without -t every frame until the program ended by itself). How the
//       program ended once those were in (an exit status other than 0, a crash,
//       a termination after it ignored the quit) is said in one line.
//   1   refused or failed, one line (the program's last output after it when it
//       failed): nothing written, an older OUT kept. A program that does not
//       exist, ends or crashes before its first frame, shows a window without
//       OpenGL (even one that calls the swap), or draws no frame in 60 s; a
//       missing tool, display or file; a failing encoder.
//   2   bad arguments, before anything runs.
//   3   OUT written, but short: the program ended or crashed before the frames
//       asked for were in (without -t: ended by itself with a status other than
//       0, or crashed), or one of its frames did not end in 60 s of real time
//       (stuck) and it was stopped. OUT holds every frame it drew; one line says
//       how it ended.
//   130, 143  interrupted (SIGINT) or terminated (SIGTERM, SIGHUP): nothing written.
//
// On stderr: "capture: recording WHAT to OUT" at the first frame, a progress bar
// (one line redrawn on a terminal, else a line every tenth), notes ("capture:
// the window is WxH; the video pads it to ..."), and at the end "capture: wrote
// OUT (WHAT) in S s". The program's own output goes to a file of the work folder,
// shown only when it failed.
//
// How: a work folder in $TMPDIR (vorna-capture.PID.*) holds FIFOs: the rig
// reports every frame, the window, its sizes and the sound's format on one
// (RIG_LOG), which is how frames are counted; once it has said the first
// picture's size, one ffmpeg is started that reads the picture (RIG_VIDEO, as
// yuv420p converted by the rig for the MP4, RGBA otherwise) and the sound
// (RIG_AUDIO, bare samples) side by side and encodes while the program draws;
// a folder's sound.wav is written by the rig itself.
// Everything capture starts is a process group that dies with it, even when it
// is killed outright; the next capture to the same OUT removes what a killed one
// left (a hidden partial file beside OUT, its work folder).
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "children.h"
#include "schedule.h"

namespace fs = std::filesystem;

namespace {

// A frame whose end does not come in this much real time is stuck, and so is a
// program that shows no frame in it.
constexpr int kStuckSeconds = 60;
// A program asked to quit gets this long to end before it is terminated.
constexpr double kQuitSeconds = 5;
// A window without OpenGL gets this long to be replaced by one with it.
constexpr double kNoOpenGLSeconds = 3;

const char* const kUsage =
    "Usage: tools/capture [-r FPS] [-o OUT] [-q CRF] [-s SECONDS] [-S SECONDS] [-t SECONDS]\n"
    "                     [-m MEDIA] [-b BUILD] [-d]\n"
    "       tools/capture [options] [-C DIR] -- PROGRAM [ARGS...]\n"
    "\n"
    "Records the demo (or PROGRAM, any X11 OpenGL program: SDL 1.2 or 2, GLUT,\n"
    "GLFW, plain GLX) headless and frame-exactly, with the sound it plays through\n"
    "SDL or OpenAL, to OUT (default vorna.mp4, or PROGRAM's name .mp4). Every clock\n"
    "the program reads shows frame k at k/FPS s.\n"
    "\n"
    "  -r FPS      frames per second, N or N/D, 1 to 1000 (default 60; 60000/1001\n"
    "              for 59.94)\n"
    "  -o OUT      what to write, by its name: NAME.mkv lossless (FFV1 RGB, FLAC),\n"
    "              NAME/ a folder of PNG frames and sound.wav, any other an MP4\n"
    "              (H.264, AAC). It appears only when complete; an older one of that\n"
    "              name is kept on failure. Only a regular file, or a folder of\n"
    "              capture's own frames, is ever replaced.\n"
    "  -q CRF      the MP4's quality, 0 to 51 (default 18; lower is better)\n"
    "  -s SECONDS  save one frame as a PNG instead: the frame whose clock is nearest\n"
    "              to SECONDS (for the demo, 0 to 30).\n"
    "  -S SECONDS  start the recording at that clock; the program still runs from 0.\n"
    "  -t SECONDS  end the recording after that much clock (from -S): the program is\n"
    "              asked to quit then, and terminated if it does not end. Without it\n"
    "              the recording lasts until the program ends.\n"
    "  -C DIR      the folder PROGRAM runs in (default: the current folder).\n"
    "  -m MEDIA    the folder the demo runs in, with its music and images\n"
    "              (default: assets/ of this source tree).\n"
    "  -b BUILD    build folder with the demo and the rig (default: build/); they\n"
    "              are built there when missing or older than their sources.\n"
    "  -d          draw on the current X display ($DISPLAY) instead of a private\n"
    "              virtual one.\n"
    "\n"
    "Exit status: 0 written; 1 refused or failed, nothing written; 2 bad arguments;\n"
    "3 written, but the program ended, crashed or got stuck before the frames asked for.\n";

using Clock = std::chrono::steady_clock;

// ---- what is left to clean up, whatever the way out ---------------------------------------

std::string partial;  // the hidden file the output is made in
std::string work;     // the work folder

[[noreturn]] void finish(int status)
{
    children::stop_all();
    std::error_code ignored;
    if (!partial.empty())
        fs::remove(partial, ignored);
    if (!work.empty())
        fs::remove_all(work, ignored);
    std::exit(status);
}

void say(const std::string& line)
{
    std::fprintf(stderr, "capture: %s\n", line.c_str());
}

[[noreturn]] void refuse(const std::string& line, int status = 1)
{
    say(line);
    finish(status);
}

[[noreturn]] void usage_error(const std::string& line, bool show_usage = false)
{
    say(line);
    if (show_usage)
        std::fputs(kUsage, stderr);
    std::exit(2);
}

void check_interrupt()
{
    const int number = children::stop_signal();
    if (number == 0)
        return;
    std::fprintf(stderr, "\n");
    if (number == SIGINT)
        refuse("interrupted; nothing written", 130);
    refuse("terminated; nothing written", 143);
}

std::string read_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string last_lines(const std::string& path, size_t count)
{
    const std::string text = read_text(path);
    size_t at = text.size();
    if (at > 0 && text[at - 1] == '\n')
        --at;
    for (size_t lines = 0; at > 0 && lines < count; --at)
        if (text[at - 1] == '\n' && ++lines == count)
            break;
    return text.substr(at);
}

// "PROGRAM" found as a shell finds a command: a name with a slash as a path,
// any other in PATH; "" when there is none.
std::string find_program(const std::string& name, const std::string& dir = "")
{
    const auto runnable = [](const fs::path& path) {
        std::error_code error;
        return fs::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) {
        const fs::path path = name[0] == '/' ? fs::path(name) : fs::path(dir) / name;
        return runnable(path) ? fs::absolute(path).lexically_normal().string() : "";
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && runnable(fs::path(folder) / name))
            return fs::absolute(fs::path(folder) / name).lexically_normal().string();
    return "";
}

double seconds_since(Clock::time_point then)
{
    return std::chrono::duration<double>(Clock::now() - then).count();
}

// ---- options --------------------------------------------------------------------------------

struct Options {
    schedule::Rate rate{60, 1};
    int quality = 18;  // the H.264 encoder's CRF
    bool quality_given = false;
    std::string out;
    std::optional<std::string> still, limit, start;
    std::string run_dir, media, build;
    bool own_display = true;
    bool general = false;  // a program after "--" rather than the demo
    std::vector<std::string> program;
};

bool is_seconds(const std::string& text)
{
    static const std::regex pattern("[0-9]{1,6}(\\.[0-9]+)?");
    return std::regex_match(text, pattern);
}

// SECONDS (as is_seconds takes them) in nanoseconds; digits past the ninth
// decimal are dropped.
uint64_t nanoseconds(const std::string& seconds)
{
    const std::string::size_type dot = seconds.find('.');
    std::string fraction = dot == std::string::npos ? "" : seconds.substr(dot + 1, 9);
    fraction.resize(9, '0');
    return std::stoull(seconds.substr(0, dot)) * 1000000000ull + std::stoull(fraction);
}

// Frames of the rate in a stretch of clock, exactly: nanoseconds * N / (D *
// 10^9) rounded down, up, or to the nearest.
uint64_t frames_at(uint64_t nanoseconds, schedule::Rate rate, bool up = false, bool nearest = false)
{
    const unsigned __int128 numerator = static_cast<unsigned __int128>(nanoseconds) * rate.num;
    const unsigned __int128 denominator = static_cast<unsigned __int128>(rate.den) * 1000000000u;
    const unsigned __int128 added = up ? denominator - 1 : nearest ? denominator / 2 : 0;
    return static_cast<uint64_t>((numerator + added) / denominator);
}

Options parse(int argc, char** argv)
{
    Options options;
    options.media = SOURCE_DIR "/assets";
    options.build = SOURCE_DIR "/build";
    // Options end at "--"; what follows is the program and its own arguments.
    // An option that takes a value, written apart from it, takes the next word
    // too, even "--".
    static const std::regex takes_value("-[dh]*[rostSqCmb]");
    int end = 1;
    while (end < argc && std::string(argv[end]) != "--")
        end += std::regex_match(argv[end], takes_value) && end + 1 < argc ? 2 : 1;
    if (end < argc) {
        options.general = true;
        options.program.assign(argv + end + 1, argv + argc);
    }
    std::string fps_text = "60";
    opterr = 0;
    int option;
    std::optional<std::string> quality_text;
    while ((option = getopt(end, argv, "+:r:o:s:t:S:q:C:m:b:dh")) != -1) {
        switch (option) {
        case 'r':
            fps_text = optarg;
            break;
        case 'o':
            options.out = optarg;
            break;
        case 's':
            options.still = optarg;
            break;
        case 't':
            options.limit = optarg;
            break;
        case 'S':
            options.start = optarg;
            break;
        case 'q':
            quality_text = optarg;
            break;
        case 'C':
            options.run_dir = optarg;
            break;
        case 'm':
            options.media = optarg;
            break;
        case 'b':
            options.build = optarg;
            break;
        case 'd':
            options.own_display = false;
            break;
        case 'h':
            std::fputs(kUsage, stdout);
            std::exit(0);
        case ':':
            usage_error(std::string("-") + char(optopt) + " needs a value", true);
        default:
            usage_error(std::string("unknown option -") + char(optopt), true);
        }
    }
    if (optind < end)
        usage_error(std::string("unexpected argument: ") + argv[optind] +
                        " (a program to record goes after --)",
                    true);
    if (options.general && options.program.empty())
        usage_error("-- wants a program to record");
    if (options.general && !options.run_dir.empty() && options.media != SOURCE_DIR "/assets")
        usage_error("-m is the demo's folder; -C names the program's");
    if (!options.general && !options.run_dir.empty())
        usage_error("-C is for a program after --; -m names the demo's folder");
    // A whole number or a fraction (60000/1001 for 59.94), from 1 to 1000.
    static const std::regex rate_pattern("[1-9][0-9]{0,5}(/[1-9][0-9]{0,5})?");
    if (std::regex_match(fps_text, rate_pattern))
        options.rate = schedule::Rate::parse(fps_text, "-r");
    if (!std::regex_match(fps_text, rate_pattern) || options.rate.num < options.rate.den ||
        options.rate.num > 1000ull * options.rate.den)
        usage_error(
            "-r wants frames per second from 1 to 1000, a whole number or a fraction "
            "(60000/1001), not \"" +
            fps_text + "\"");
    if (quality_text) {
        static const std::regex crf("[0-9]{1,2}");
        if (!std::regex_match(*quality_text, crf) || std::stoi(*quality_text) > 51)
            usage_error("-q wants an H.264 quality (CRF) from 0 to 51, not \"" + *quality_text +
                        "\"");
        options.quality = std::stoi(*quality_text);
        options.quality_given = true;
    }
    if (options.still && options.limit)
        usage_error("-s and -t exclude each other");
    if (options.still && options.start)
        usage_error("-s and -S exclude each other");
    if (options.start &&
        (!is_seconds(*options.start) || (!options.general && std::stod(*options.start) > 30)))
        usage_error(std::string("-S wants a time in seconds") +
                    (options.general ? "" : " from 0 to 30") + ", not \"" + *options.start + "\"");
    if (options.still &&
        (!is_seconds(*options.still) || (!options.general && std::stod(*options.still) > 30)))
        usage_error(std::string("-s wants a time in seconds") +
                    (options.general ? "" : " from 0 to 30") + ", not \"" + *options.still + "\"");
    if (options.limit && !is_seconds(*options.limit))
        usage_error("-t wants a time in seconds, not \"" + *options.limit + "\"");
    return options;
}

// ---- the output file --------------------------------------------------------------------

// OUT's absolute name, in a folder that can be written to.
std::string in_writable_folder(const std::string& out)
{
    std::error_code error;
    fs::path folder = fs::path(out).parent_path();
    if (folder.empty())
        folder = ".";
    if (!fs::is_directory(folder, error) || access(folder.c_str(), W_OK) != 0)
        refuse("cannot write to the folder " + folder.string());
    return (fs::canonical(folder) / fs::path(out).filename()).string();
}

// Only a regular file is ever replaced, and one behind a link where it lies: a
// device, a FIFO, a folder or a socket is refused, as root too.
std::string checked_output(std::string out)
{
    struct stat info;
    if (stat(out.c_str(), &info) == 0) {
        const char* kind = S_ISDIR(info.st_mode)                            ? "a folder"
                           : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                           : S_ISFIFO(info.st_mode)                         ? "a FIFO"
                           : S_ISSOCK(info.st_mode)                         ? "a socket"
                           : !S_ISREG(info.st_mode)                         ? "not a regular file"
                                                                            : nullptr;
        if (kind)
            refuse(out + " is " + kind + ": capture writes only to a regular file or a new name");
    }
    std::error_code error;
    if (fs::is_symlink(out, error)) {
        const fs::path target = fs::weakly_canonical(out, error);
        // A link that leads elsewhere for another process (/dev/stdout) is no place to write.
        if (fs::exists(out, error) && !fs::equivalent(target, out, error))
            refuse(out + " is a link that capture cannot follow");
        out = target.string();
    }
    return in_writable_folder(out);
}

// A frame or the sound of a folder that capture writes.
bool written_by_capture(const fs::path& file)
{
    static const std::regex names("frame-[0-9]{5,}\\.png|sound\\.wav");
    return std::regex_match(file.filename().string(), names);
}

// A folder of frames is made anew, or replaces one that holds nothing but
// what capture writes into one.
std::string checked_folder(std::string out)
{
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    std::error_code error;
    if (fs::exists(out, error)) {
        if (!fs::is_directory(out, error))
            refuse(out + " is not a folder: a name ending in / is a folder of frames");
        for (const auto& entry : fs::directory_iterator(out, error))
            if (!entry.is_regular_file(error) || !written_by_capture(entry.path()))
                refuse(out + "/ holds " + entry.path().filename().string() +
                       ": capture replaces only a folder of its own frames");
    }
    return in_writable_folder(out);
}

// A partial file and a work folder carry the process number of their capture;
// one whose capture no longer runs is stale. Only those for this output go.
void remove_stale(const std::string& out, const std::string& tmp)
{
    const auto dead = [](const std::string& name) {
        const std::string::size_type last = name.rfind('.');
        const std::string::size_type before = name.rfind('.', last - 1);
        if (last == std::string::npos || before == std::string::npos)
            return false;
        const std::string pid = name.substr(before + 1, last - before - 1);
        return !pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos &&
               !fs::exists("/proc/" + pid);
    };
    std::error_code error;
    const std::string base = "." + fs::path(out).filename().string() + ".";
    for (const auto& entry : fs::directory_iterator(fs::path(out).parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(base, 0) == 0 && dead(name) &&
            (entry.is_regular_file(error) || entry.is_directory(error)))
            fs::remove_all(entry.path(), error);
    }
    for (const auto& entry : fs::directory_iterator(tmp, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("vorna-capture.", 0) == 0 && entry.is_directory(error) && dead(name) &&
            read_text((entry.path() / "output").string()) == out + "\n")
            fs::remove_all(entry.path(), error);
    }
}

// ---- building ------------------------------------------------------------------------------

fs::file_time_type newest(const std::vector<fs::path>& sources)
{
    fs::file_time_type latest = fs::file_time_type::min();
    std::error_code error;
    for (const fs::path& source : sources) {
        if (fs::is_directory(source, error)) {
            for (const auto& entry : fs::recursive_directory_iterator(source, error))
                if (entry.is_regular_file(error))
                    latest = std::max(latest, entry.last_write_time(error));
        } else if (fs::exists(source, error)) {
            latest = std::max(latest, fs::last_write_time(source, error));
        }
    }
    return latest;
}

bool stale(const fs::path& binary, const std::vector<fs::path>& sources)
{
    std::error_code error;
    return !fs::exists(binary, error) || newest(sources) > fs::last_write_time(binary, error);
}

// The demo and the rig are built when missing, or when a source is newer.
void bring_up_to_date(const std::string& build, bool demo)
{
    std::vector<fs::path> rig_sources;
    std::istringstream names(RIG_SOURCES);
    for (std::string name; std::getline(names, name, ':');)
        rig_sources.push_back(fs::path(SOURCE_DIR "/capture") / name);
    const bool rig_stale = stale(build + "/capture/libvorna_rig.so", rig_sources);
    const bool demo_stale = demo && stale(build + "/demo", {SOURCE_DIR "/src"});
    if (!rig_stale && !demo_stale)
        return;
    if (find_program("cmake").empty())
        refuse("cmake not found: run tools/deps to install what building needs");
    say("building the demo and the rig in " + build);
    // Its output goes to capture's own error stream, where the user sees it.
    const std::string log = "/dev/stderr";
    const auto step = [&](std::vector<std::string> argv) {
        const std::optional<children::End> end = children::run({argv, {}, "", "/dev/null", log});
        check_interrupt();
        if (!end || !end->clean())
            refuse("the build failed");
    };
    if (!fs::exists(build + "/CMakeCache.txt"))
        step({"cmake", "-S", SOURCE_DIR, "-B", build});
    step({"cmake", "--build", build, "--target", "demo", "vorna_rig", "-j",
          std::to_string(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)))});
}

// ---- the display ---------------------------------------------------------------------------

// A private virtual display. Xvfb picks a free display number itself and says it
// once it accepts connections, so captures and test runs side by side never race
// for a number; its cookie is for any number, since the number is known only
// once it runs. -noreset: a server that resets when its last client leaves can
// refuse a connection meanwhile.
void start_display(std::map<std::string, std::optional<std::string>>& env)
{
    const std::string log = work + "/xvfb.log";
    const std::string authority = work + "/Xauthority";
    unsigned char random[16];
    {
        std::ifstream urandom("/dev/urandom", std::ios::binary);
        urandom.read(reinterpret_cast<char*>(random), sizeof random);
    }
    std::string cookie;
    for (unsigned char byte : random) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        cookie += hex;
    }
    std::ofstream(work + "/cookie")
        << "ffff 0000  0000  0012 4d49542d4d414749432d434f4f4b49452d31 0010 " << cookie << "\n";
    const std::optional<children::End> merged = children::run(
        {{"xauth", "-q", "-f", authority, "nmerge", work + "/cookie"}, {}, "", "/dev/null", log});
    check_interrupt();
    int ready[2];
    if (!merged || !merged->clean() || pipe2(ready, O_CLOEXEC) != 0)
        refuse("no virtual X display: xauth failed:\n" + last_lines(log, 5));
    fcntl(ready[1], F_SETFD, 0);
    const pid_t xvfb =
        children::start({{"Xvfb", "-displayfd", std::to_string(ready[1]), "-noreset", "-screen",
                          "0", "3840x2160x24", "-nolisten", "tcp", "-auth", authority},
                         {},
                         "",
                         "/dev/null",
                         log,
                         ready[1]});
    close(ready[1]);
    std::string number;
    const Clock::time_point started = Clock::now();
    while (seconds_since(started) < 10) {
        check_interrupt();
        pollfd answer{ready[0], POLLIN, 0};
        if (poll(&answer, 1, 100) > 0) {
            char text[32];
            const ssize_t got = read(ready[0], text, sizeof text - 1);
            if (got <= 0)
                break;
            number.append(text, static_cast<size_t>(got));
            if (number.find('\n') != std::string::npos)
                break;
        }
        if (children::ended(xvfb))
            break;
    }
    close(ready[0]);
    number = number.substr(0, number.find('\n'));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
        std::fprintf(stderr, "capture: no virtual X display: Xvfb did not start:\n%s",
                     last_lines(log, 5).c_str());
        finish(1);
    }
    env["DISPLAY"] = ":" + number;
    env["XAUTHORITY"] = authority;
}

// ---- the run --------------------------------------------------------------------------------

// What the rig reported of the recording, line by line (its RIG_LOG).
struct Report {
    uint64_t frames = 0;    // frames completed
    std::string no_opengl;  // "WxH" of a window without OpenGL, if one showed
    Clock::time_point no_opengl_at;
    int width = 0, height = 0;  // the video's size, from the first picture
    std::string resized;        // the first other size, and the frame it came in
    // The sound track's format, said before the first picture: its rate,
    // channels and sample type (u8, s16, s32, f32).
    int sound_rate = 0, sound_channels = 0;
    std::string sound_type;
    std::vector<std::string> notes;  // what the user is told of the sound, once each
    Clock::time_point last_frame_at = Clock::now();

    void take(const std::string& line);
    void take_sound(const std::string& line);
    void note(const std::string& text)
    {
        if (std::find(notes.begin(), notes.end(), text) == notes.end())
            notes.push_back(text);
    }
};

void Report::take_sound(const std::string& line)
{
    int rate = 0, other = 0, channels = 0;
    char word[16] = "";
    if (std::sscanf(line.c_str(), "sound refused %d", &rate) == 1) {
        note("the program's sound device at " + std::to_string(rate) +
             " Hz was refused, as a real one would be (capture records 8000 to 192000 Hz)");
    } else if (std::sscanf(line.c_str(), "sound resampled %d %d", &rate, &other) == 2) {
        note("a sound device at " + std::to_string(rate) + " Hz is resampled into the track's " +
             std::to_string(other) + " Hz");
    } else if (std::sscanf(line.c_str(), "sound elsewhere %15s", word) == 1) {
        note("the program plays sound straight to " +
             std::string(std::strcmp(word, "alsa") == 0 ? "ALSA" : "PulseAudio") +
             ", which is not recorded (SDL and OpenAL are)");
    } else if (std::sscanf(line.c_str(), "sound %d %d %15s", &rate, &channels, word) == 3) {
        sound_rate = rate;
        sound_channels = channels;
        sound_type = word;
    }
}

void Report::take(const std::string& line)
{
    unsigned long long frame = 0;
    int w = 0, h = 0;
    if (std::sscanf(line.c_str(), "frame %llu ", &frame) == 1) {
        frames = std::max<uint64_t>(frames, frame + 1);
        last_frame_at = Clock::now();
    } else if (line.rfind("sound ", 0) == 0) {
        take_sound(line);
    } else if (std::sscanf(line.c_str(), "video %dx%d", &w, &h) == 2) {
        width = w;
        height = h;
    } else if (std::sscanf(line.c_str(), "resize %dx%d %llu", &w, &h, &frame) == 3) {
        if (resized.empty())
            resized =
                std::to_string(w) + "x" + std::to_string(h) + " at frame " + std::to_string(frame);
    } else if (line.size() > 7 && line.rfind("window ", 0) == 0 &&
               line.find(" no-opengl") != std::string::npos) {
        if (no_opengl.empty())
            no_opengl_at = Clock::now();
        no_opengl = line.substr(7, line.find(' ', 7) - 7);
    }
}

// The progress bar: frames done out of the total, the time so far and an
// estimate of the rest. On a terminal one line redrawn; elsewhere a line every
// tenth (every hundred frames when the total is not known).
class Progress {
public:
    Progress(std::optional<uint64_t> total, std::string name, Clock::time_point started)
        : total_(total), name_(std::move(name)), started_(started)
    {
    }

    void show(uint64_t done, bool last = false)
    {
        const bool terminal = isatty(2);
        const uint64_t step = total_ ? done * 10 / std::max<uint64_t>(*total_, 1) : done / 100;
        if (!terminal && (last || (shown_ && step <= shown_step_)))
            return;
        if (terminal && last && !shown_)
            return;
        shown_ = true;
        shown_step_ = step;
        const double elapsed = seconds_since(started_);
        char line[256];
        if (total_) {
            const int width = 30;
            const int filled = static_cast<int>(done * width / std::max<uint64_t>(*total_, 1));
            std::string bar(static_cast<size_t>(filled), '#');
            bar.resize(width, '.');
            const std::string digits = std::to_string(*total_);
            const std::string eta =
                done == 0 ? "--"
                          : std::to_string(static_cast<long long>(
                                elapsed * static_cast<double>(*total_ - done) / done + 0.5)) +
                                "s";
            std::snprintf(line, sizeof line, "[%s] %*llu/%llu frames  %4llds elapsed  ETA %s",
                          bar.c_str(), static_cast<int>(digits.size()),
                          static_cast<unsigned long long>(done),
                          static_cast<unsigned long long>(*total_),
                          static_cast<long long>(elapsed + 0.5), eta.c_str());
        } else {
            std::snprintf(line, sizeof line, "[%llu frames]  %4llds elapsed, until %s ends",
                          static_cast<unsigned long long>(done),
                          static_cast<long long>(elapsed + 0.5), name_.c_str());
        }
        if (terminal)
            std::fprintf(stderr, "\r%s\033[K%s", line, last ? "\n" : "");
        else
            std::fprintf(stderr, "%s\n", line);
    }

private:
    std::optional<uint64_t> total_;
    std::string name_;
    Clock::time_point started_;
    bool shown_ = false;
    uint64_t shown_step_ = 0;
};

// What OUT's name asks for: a still (with -s), an MP4, a lossless Matroska
// file, or a folder of numbered PNG frames and the sound as WAV.
enum class Output { still, mp4, mkv, folder };

struct Run {
    Options options;
    Output output = Output::mp4;
    std::string out, rig, program, name, label;
    uint64_t first = 0;              // the first frame recorded (-S)
    std::optional<uint64_t> frames;  // how many the recording holds, when known beforehand
    std::optional<uint64_t> stop;    // the frame in which the program is asked to quit
    uint64_t shot = 0;               // the still's frame, with -s
};

Run plan(const Options& options)
{
    Run run;
    run.options = options;
    if (find_program("ffmpeg").empty())
        refuse("ffmpeg not found: apt-get install ffmpeg");
    if (options.own_display && (find_program("Xvfb").empty() || find_program("xauth").empty()))
        refuse("no virtual X display: Xvfb or xauth not found: apt-get install xvfb xauth");
    if (!options.own_display && !std::getenv("DISPLAY"))
        refuse("no X display for -d: DISPLAY is not set (leave out -d for a virtual one)");

    const schedule::Rate rate = options.rate;
    // `end`: one past the last frame the program runs to, when known.
    std::optional<uint64_t> end;
    if (!options.general)
        // The demo ends on its first frame whose clock, float(ms) * 0.001f, exceeds
        // 30: that holds from 30000 ms on, and frame k reads floor(k * 1000 / fps)
        // ms, so the last frame is the first at or after 30 s.
        end = frames_at(30000000000ull, rate, true) + 1;
    if (options.still) {
        // The frame whose clock is nearest to the time asked for.
        run.shot = frames_at(nanoseconds(*options.still), rate, false, true);
        end = run.shot + 1;
        run.stop = end;
    }
    // From the first frame at or after -S, every frame whose clock is at most
    // -S plus -t.
    const uint64_t from = options.start ? nanoseconds(*options.start) : 0;
    run.first = frames_at(from, rate, true);
    if (options.limit) {
        const uint64_t wanted = frames_at(from + nanoseconds(*options.limit), rate) + 1;
        if (!end || wanted < *end) {
            end = wanted;
            run.stop = wanted;
        }
    }
    if (end && *end <= run.first)
        usage_error("-S " + *options.start + " is past the demo's end");
    if (end)
        run.frames = *end - run.first;

    const std::string& named = options.out;
    if (options.still)
        run.output = Output::still;
    else if (!named.empty() && named.back() == '/')
        run.output = Output::folder;
    else if (named.size() > 4 && named.compare(named.size() - 4, 4, ".mkv") == 0)
        run.output = Output::mkv;
    if (options.quality_given && run.output != Output::mp4)
        usage_error("-q is the MP4's quality; .mkv and folders are lossless");

    run.options.build = fs::absolute(options.build).lexically_normal().string();
    run.rig = run.options.build + "/capture/libvorna_rig.so";
    std::error_code error;
    if (!options.general) {
        run.program = run.options.build + "/demo";
        run.name = "demo";
        run.label = "the demo";
        if (!fs::is_directory(options.media, error))
            refuse("media missing: no folder " + options.media);
        run.options.run_dir = fs::canonical(options.media).string();
        for (const char* file : {"vornalogo.png", "text1.png", "text2.png", "biisi.mp3"}) {
            const std::string path = run.options.run_dir + "/" + file;
            if (!fs::is_regular_file(path, error) || access(path.c_str(), R_OK) != 0)
                refuse("media missing: " + path + " (media/make_assets makes the demo's media)");
        }
        run.out = options.out.empty() ? (options.still ? "vorna.png" : "vorna.mp4") : options.out;
    } else {
        const std::string dir = options.run_dir.empty() ? "." : options.run_dir;
        run.name = fs::path(options.program[0]).filename().string();
        if (!fs::is_directory(dir, error))
            refuse("no folder " + dir + " to run " + run.name + " in (-C)");
        run.options.run_dir = fs::canonical(dir).string();
        run.program = find_program(options.program[0], run.options.run_dir);
        if (run.program.empty())
            refuse("no such program: " + options.program[0]);
        run.name = fs::path(run.program).filename().string();
        run.label = run.name;
        run.out = options.out.empty() ? run.name + (options.still ? ".png" : ".mp4") : options.out;
    }
    run.out = run.output == Output::folder ? checked_folder(run.out) : checked_output(run.out);
    return run;
}

// The rates AAC has; a track at another is resampled to the nearest.
int aac_rate(int rate)
{
    static const int rates[] = {7350,  8000,  11025, 12000, 16000, 22050, 24000,
                                32000, 44100, 48000, 64000, 88200, 96000};
    int best = rates[0];
    for (const int candidate : rates)
        if (std::abs(candidate - rate) < std::abs(best - rate))
            best = candidate;
    return best;
}

// The encoder for what the rig streams, once the picture's size and the
// sound's format are known. Both streams are bare, their formats given here,
// so that ffmpeg reads only a few bytes of each as it opens it: the sound
// first, whose frame the rig writes before the picture of the frame. The
// sound's packets (about 0.1 s) wait for as many frames: those are let queue.
std::vector<std::string> encoder_command(const Run& run, Report& seen, const std::string& video,
                                         const std::string& sound)
{
    const std::string rate = run.options.rate.text();
    const bool mp4 = run.output == Output::mp4;
    // The rig pads yuv420p to even sizes, as H.264 wants them.
    const int width = mp4 ? (seen.width + 1) / 2 * 2 : seen.width;
    const int height = mp4 ? (seen.height + 1) / 2 * 2 : seen.height;
    const uint64_t queue = 8 + run.options.rate.num / run.options.rate.den / 5;
    // At the lowest priority: the encoder takes the time the drawing leaves
    // (the recording is as slow as the drawing, not the sum of both).
    std::vector<std::string> args{
        "nice",      "-n",    "19",       "ffmpeg", "-hide_banner",
        "-loglevel", "error", "-nostats", "-y",     "-nofind_stream_info"};
    const std::string type = seen.sound_type == "u8" ? "u8" : seen.sound_type + "le";
    if (run.output != Output::folder)
        args.insert(args.end(),
                    {"-thread_queue_size", "64", "-f", type, "-ar", std::to_string(seen.sound_rate),
                     "-ac", std::to_string(seen.sound_channels), "-i", sound});
    args.insert(args.end(), {"-thread_queue_size", std::to_string(queue), "-f", "rawvideo",
                             "-pix_fmt", mp4 ? "yuv420p" : "rgba", "-video_size",
                             std::to_string(width) + "x" + std::to_string(height), "-framerate",
                             rate, "-i", video});
    // Not measured from the stream (that would read it before the sound opens): said.
    args.insert(args.end(), {"-r", rate});
    if (run.output == Output::folder) {
        // Numbered from 0, as the frames of a video of the same recording.
        args.insert(args.end(), {"-c:v", "png", "-pix_fmt", "rgb24", "-start_number", "0", "-f",
                                 "image2", partial + "/frame-%05d.png"});
        return args;
    }
    args.insert(args.end(), {"-map", "1:v", "-map", "0:a"});
    if (mp4) {
        // ultrafast keeps a full 60 fps capture of the demo ahead of real time on
        // two cores, drawing included; crf 18 looks transparent. A core is left
        // to the program: x264's threads beyond it only take turns with its
        // drawing, which the whole recording waits for.
        const long cores = std::max(2L, sysconf(_SC_NPROCESSORS_ONLN));
        args.insert(args.end(), {"-c:v",
                                 "libx264",
                                 "-preset",
                                 "ultrafast",
                                 "-threads",
                                 std::to_string(cores - 1),
                                 "-crf",
                                 std::to_string(run.options.quality),
                                 "-pix_fmt",
                                 "yuv420p",
                                 "-colorspace",
                                 "bt709",
                                 "-color_primaries",
                                 "bt709",
                                 "-color_trc",
                                 "bt709",
                                 "-color_range",
                                 "tv",
                                 "-c:a",
                                 "aac",
                                 "-b:a",
                                 "192k"});
        const int heard = aac_rate(seen.sound_rate);
        if (heard != seen.sound_rate) {
            seen.note("the sound is resampled from " + std::to_string(seen.sound_rate) + " to " +
                      std::to_string(heard) + " Hz, a rate AAC has (.mkv keeps it as it is)");
            args.insert(args.end(), {"-ar", std::to_string(heard)});
        }
        args.insert(args.end(), {"-movflags", "+faststart", "-f", "mp4", partial});
        return args;
    }
    // Lossless: FFV1 keeps RGB as it is (planar, alpha left out), FLAC the
    // samples, up to 24 bits.
    if (seen.sound_type == "s32" || seen.sound_type == "f32")
        seen.note("the sound's " + std::string(seen.sound_type == "f32" ? "float" : "32-bit") +
                  " samples are kept as 24-bit FLAC");
    args.insert(args.end(), {"-c:v", "ffv1", "-level", "3", "-slices", "4", "-pix_fmt", "gbrp",
                             "-c:a", "flac", "-f", "matroska", partial});
    return args;
}

int record(const Run& run)
{
    const Options& options = run.options;
    const Clock::time_point started = Clock::now();
    const char* tmp = std::getenv("TMPDIR");
    const std::string tmp_root = tmp && *tmp ? tmp : "/tmp";
    remove_stale(run.out, tmp_root);
    std::string work_template = tmp_root + "/vorna-capture." + std::to_string(getpid()) + ".XXXXXX";
    if (!mkdtemp(work_template.data()))
        refuse("cannot make a work folder in " + tmp_root + ": " + std::strerror(errno));
    work = work_template;
    std::ofstream(work + "/output") << run.out << "\n";
    // The final name appears only by the rename of a complete file from the same folder.
    const fs::path out_path(run.out);
    std::string partial_template =
        (out_path.parent_path() /
         ("." + out_path.filename().string() + "." + std::to_string(getpid()) + ".XXXXXX"))
            .string();
    if (run.output == Output::folder) {
        if (!mkdtemp(partial_template.data()))
            refuse("cannot write to the folder " + out_path.parent_path().string());
    } else {
        const int partial_fd = mkstemp(partial_template.data());
        if (partial_fd == -1)
            refuse("cannot write to the folder " + out_path.parent_path().string());
        close(partial_fd);
    }
    partial = partial_template;

    std::map<std::string, std::optional<std::string>> env;
    if (options.own_display)
        start_display(env);

    // The rig's report: a FIFO that capture holds open for writing too, so that
    // it reads "nothing yet" rather than an end between the program's processes.
    const std::string report_path = work + "/report";
    mkfifo(report_path.c_str(), 0600);
    const int report = open(report_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int report_holder = open(report_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (report == -1 || report_holder == -1)
        refuse("cannot make the rig's report in " + work);

    const std::string fps = options.rate.text();
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "RIG_", 4) == 0)
            env[std::string(*entry).substr(0, std::string(*entry).find('='))] = std::nullopt;
    // No sound device is opened: SDL's sound comes through the rig, and OpenAL
    // Soft plays into its null device rather than at the machine's speed.
    env["SDL_VIDEODRIVER"] = "x11";
    env["SDL_AUDIODRIVER"] = "dummy";
    env["ALSOFT_DRIVERS"] = "null";
    env["LD_PRELOAD"] = run.rig;
    env["RIG_FPS"] = fps;
    env["RIG_LOG"] = report_path;
    if (run.first > 0)
        env["RIG_FROM"] = std::to_string(run.first);
    if (run.stop) {
        env["RIG_FRAMES"] = std::to_string(run.first + *run.frames);
        env["RIG_EVENTS"] = std::to_string(*run.stop) + ":quit";
    }

    // The streams: FIFOs that the rig opens at the program's first picture,
    // once it has said the picture's size and the sound's format, which the
    // encoder is then started with.
    const std::string video = work + "/video", sound = work + "/sound";
    if (run.output == Output::still) {
        fs::create_directory(work + "/frames");
        env["RIG_FRAME_DIR"] = work + "/frames";
        env["RIG_SAVE_FRAMES"] = std::to_string(run.shot);
    } else {
        mkfifo(video.c_str(), 0600);
        env["RIG_VIDEO"] = video;
        // yuv420p made by the rig costs less than ffmpeg's own conversion.
        env["RIG_VIDEO_FORMAT"] = run.output == Output::mp4 ? "yuv420p" : "rgba";
        if (run.output == Output::folder) {
            env["RIG_AUDIO"] = partial + "/sound.wav";
        } else {
            mkfifo(sound.c_str(), 0600);
            env["RIG_AUDIO"] = sound;
        }
    }
    pid_t encoder = -1;
    const std::string encoder_log = work + "/ffmpeg.log";

    std::vector<std::string> argv{run.program};
    if (options.general)
        argv.insert(argv.end(), options.program.begin() + 1, options.program.end());
    const std::string run_log = work + "/run.log";
    const pid_t program = children::start({argv, env, options.run_dir, "/dev/null", run_log});
    if (program < 0)
        refuse("cannot start " + run.name + ": " + std::strerror(errno));

    const std::string from = options.start ? " from " + *options.start + " s" : "";
    std::string what = run.frames
                           ? std::to_string(*run.frames) + " frames" + from + " at " + fps + " fps"
                           : run.name + from + " until it ends, at " + fps + " fps";
    if (options.still)
        what =
            "frame " + std::to_string(run.shot) + ", " + *options.still + " s at " + fps + " fps";
    Progress progress(run.frames, run.name, started);

    // Watch the run: progress as frames come; a program that shows no OpenGL, no
    // frame, or a frame that never ends is stopped, as is one whose encoder gave
    // up; one asked to quit gets a few seconds to do so.
    enum class Why { none, encoder_failed, no_opengl, no_frame, stuck, quit };
    Why why = Why::none;
    Report report_seen;
    std::optional<children::End> program_end, encoder_end;
    std::optional<Clock::time_point> reached_at;
    std::string pending;
    bool recording_said = false;
    // Frames count once the program has drawn one: those that passed before
    // (it waited before it drew) are in the recording only then, as black.
    const auto recorded = [&]() -> uint64_t {
        if (report_seen.width == 0)
            return 0;
        const uint64_t through =
            run.frames ? std::min(report_seen.frames, run.first + *run.frames) : report_seen.frames;
        return through > run.first ? through - run.first : 0;
    };
    const auto drain = [&] {
        char buffer[65536];
        ssize_t got;
        while ((got = read(report, buffer, sizeof buffer)) > 0) {
            pending.append(buffer, static_cast<size_t>(got));
            std::string::size_type newline;
            while ((newline = pending.find('\n')) != std::string::npos) {
                report_seen.take(pending.substr(0, newline));
                pending.erase(0, newline + 1);
            }
        }
    };
    while (!program_end) {
        pollfd ready{report, POLLIN, 0};
        poll(&ready, 1, 250);
        check_interrupt();
        drain();
        const uint64_t done = recorded();
        if (done > 0) {
            if (!recording_said) {
                recording_said = true;
                say("recording " + what + " to " + run.out);
            }
            progress.show(done);
        }
        if (encoder == -1 && report_seen.width > 0 && run.output != Output::still)
            encoder = children::start({encoder_command(run, report_seen, video, sound),
                                       {},
                                       "",
                                       "/dev/null",
                                       encoder_log});
        program_end = children::ended(program);
        if (program_end)
            break;
        if (encoder != -1 && !encoder_end) {
            // The encoder ends before the program when it fails, or when the
            // recording is complete and the program still ends.
            encoder_end = children::ended(encoder);
            if (encoder_end && !encoder_end->clean()) {
                why = Why::encoder_failed;
                break;
            }
        }
        if (done == 0 && !report_seen.no_opengl.empty() &&
            seconds_since(report_seen.no_opengl_at) > kNoOpenGLSeconds) {
            why = Why::no_opengl;
            break;
        }
        if (done == 0 && seconds_since(started) > kStuckSeconds) {
            why = Why::no_frame;
            break;
        }
        if (done > 0 && seconds_since(report_seen.last_frame_at) > kStuckSeconds &&
            (!run.frames || done < *run.frames)) {
            why = Why::stuck;
            break;
        }
        if (run.frames && done >= *run.frames) {
            if (!reached_at)
                reached_at = Clock::now();
            if (seconds_since(*reached_at) > kQuitSeconds) {
                why = Why::quit;
                break;
            }
        }
    }
    if (!program_end)
        program_end = children::stop(program);
    drain();
    close(report_holder);
    const uint64_t done = recorded();
    progress.show(done, true);

    // With no frame the encoder may still wait for its stream to open.
    if (encoder != -1 && !encoder_end)
        encoder_end = done > 0 ? children::wait(encoder) : children::stop(encoder);
    check_interrupt();
    if (why == Why::encoder_failed || (encoder_end && !encoder_end->clean() && done > 0)) {
        std::fprintf(stderr, "capture: ffmpeg failed (%s):\n%s", encoder_end->said().c_str(),
                     read_text(encoder_log).c_str());
        finish(1);
    }

    const children::End& end = *program_end;
    if (why == Why::no_opengl)
        refuse(run.name + " opened a window without OpenGL (" + report_seen.no_opengl +
               "): only OpenGL programs can be recorded");
    if (done == 0) {
        if (why == Why::no_frame)
            refuse(run.name + " drew no frame in " + std::to_string(kStuckSeconds) +
                   " s (no buffer swap of an OpenGL window); "
                   "stopped it");
        if (end.clean())
            refuse(run.name + " ended without drawing a frame (exit status 0)");
        say(run.label + (end.status >= 0 ? " failed (" + end.said() + ")" : " " + end.said()) +
            " after 0" + (run.frames ? " of " + std::to_string(*run.frames) : "") + " frames:");
        std::fputs(last_lines(run_log, 20).c_str(), stderr);
        finish(1);
    }
    if (options.still && done < *run.frames)
        refuse(run.name + " ended after " + std::to_string(done) + " frames, before frame " +
               std::to_string(run.shot));

    // How it ended, once its frames were in, is said; before that it cut the
    // recording short, which the status says too.
    const bool complete = run.frames ? done >= *run.frames : end.clean() && why == Why::none;
    int status = 0;
    if (complete) {
        if (why == Why::quit)
            say(run.label + (run.stop ? " did not end on the quit event; terminated"
                                      : " did not end after its last frame; terminated"));
        else if (!end.clean())
            say(run.label + (end.status >= 0 ? " ended with " + end.said() : " " + end.said()) +
                " after the recording");
    } else {
        status = 3;
        const std::string count = std::to_string(done) +
                                  (run.frames ? " of " + std::to_string(*run.frames) : "") +
                                  " frames";
        if (why == Why::stuck)
            say(run.label + "'s frame " + std::to_string(done) + " did not end in " +
                std::to_string(kStuckSeconds) + " s; stopped it; writing the " +
                std::to_string(done) + " frames before it");
        else
            say(run.label + (end.status >= 0 ? " ended (" + end.said() + ")" : " " + end.said()) +
                " after " + count + "; writing those");
        if (!end.clean() && why != Why::stuck)
            std::fputs(last_lines(run_log, 20).c_str(), stderr);
        what = count + " at " + fps + " fps";
    }
    if (!run.frames)
        what = std::to_string(done) + " frames of " + run.name + " at " + fps + " fps";

    if (!options.still) {
        if (run.output == Output::mp4 && (report_seen.width % 2 || report_seen.height % 2))
            say("the window is " + std::to_string(report_seen.width) + "x" +
                std::to_string(report_seen.height) + "; the video pads it to " +
                std::to_string((report_seen.width + 1) / 2 * 2) + "x" +
                std::to_string((report_seen.height + 1) / 2 * 2) + " (H.264 wants even sizes)");
        if (!report_seen.resized.empty())
            say("the window became " + report_seen.resized + "; the video keeps the first size, " +
                std::to_string(report_seen.width) + "x" + std::to_string(report_seen.height) +
                ", and scales it in with its aspect kept");
        for (const std::string& note : report_seen.notes)
            say(note);
    } else {
        char frame[64];
        std::snprintf(frame, sizeof frame, "/frames/frame-%05u.ppm",
                      static_cast<unsigned>(run.shot));
        const std::optional<children::End> converted =
            children::run({{"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostats", "-y", "-i",
                            work + frame, "-c:v", "png", "-f", "image2pipe", partial},
                           {},
                           "",
                           "/dev/null",
                           encoder_log});
        check_interrupt();
        if (!converted || !converted->clean()) {
            std::fprintf(stderr, "capture: ffmpeg failed (%s):\n%s",
                         converted ? converted->said().c_str() : "stopped",
                         read_text(encoder_log).c_str());
            finish(1);
        }
    }

    const mode_t mask = umask(0);
    umask(mask);
    if (run.output == Output::folder) {
        // An older folder of frames goes aside first: a folder is not renamed
        // over another that holds files.
        chmod(partial.c_str(), 0777 & ~mask);
        std::error_code error;
        if (fs::exists(run.out, error)) {
            const std::string older = partial + ".older";
            if (rename(run.out.c_str(), older.c_str()) != 0)
                refuse("cannot replace " + run.out + ": " + std::strerror(errno));
            if (rename(partial.c_str(), run.out.c_str()) != 0) {
                rename(older.c_str(), run.out.c_str());
                refuse("cannot write " + run.out + ": " + std::strerror(errno));
            }
            fs::remove_all(older, error);
        } else if (rename(partial.c_str(), run.out.c_str()) != 0) {
            refuse("cannot write " + run.out + ": " + std::strerror(errno));
        }
    } else {
        chmod(partial.c_str(), 0666 & ~mask);
        if (rename(partial.c_str(), run.out.c_str()) != 0)
            refuse("cannot write " + run.out + ": " + std::strerror(errno));
    }
    partial.clear();
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", std::floor(seconds_since(started) * 10) / 10);
    say("wrote " + run.out + " (" + what + ") in " + took + " s");
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    const Run run = plan(options);
    children::catch_stop_signals();
    bring_up_to_date(run.options.build, !options.general);
    finish(record(run));
}
