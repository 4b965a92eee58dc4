// The release tarball, built by cpack from this build: what it holds, that,
// unpacked, one command plays the demo to its end, and what that command says
// when a library is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

#include "command.h"

namespace fs = std::filesystem;

namespace {

// The tarball's name and its one top folder: vorna-1.0-linux-<machine>.
const std::regex kName("vorna-1\\.0-linux-[a-z0-9_]+");

// Builds the package into dir and unpacks it there; returns the unpacked folder.
fs::path build_and_unpack(const Scratch& dir)
{
    output_of({"cpack", "--config", BUILD_DIR "/CPackConfig.cmake", "-B", dir / "package"});
    std::vector<std::string> tarballs;
    for (const std::string& name : names_in(dir.path() / "package"))
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".tar.gz") == 0)
            tarballs.push_back(name);
    if (tarballs.size() != 1 ||
        !std::regex_match(tarballs[0].substr(0, tarballs[0].size() - 7), kName))
        throw std::runtime_error("expected one vorna-1.0-linux-*.tar.gz from cpack");
    fs::create_directory(dir.path() / "unpacked");
    output_of({"tar", "-xzf", dir / ("package/" + tarballs[0]), "-C", dir / "unpacked"});
    const std::set<std::string> top = names_in(dir.path() / "unpacked");
    if (top.size() != 1 || tarballs[0] != *top.begin() + ".tar.gz")
        throw std::runtime_error("the tarball does not unpack into one folder of its own name");
    return dir.path() / "unpacked" / *top.begin();
}

// Every file below root, as paths relative to it.
std::set<std::string> tree(const fs::path& root)
{
    std::set<std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        files.insert(fs::relative(entry.path(), root).string() + (entry.is_directory() ? "/" : ""));
    return files;
}

bool executable(const fs::path& file)
{
    return (fs::status(file).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

}  // namespace

// One case: cpack first brings the build up to date (its preinstall step), and
// two of them side by side would build the same tree at once.
TEST(
    Package,
    unpacked_it_holds_the_demo_its_media_a_launcher_an_info_text_and_a_screenshot_and_plays_to_its_end)
{
    Scratch dir;
    const fs::path top = build_and_unpack(dir);
    const std::set<std::string> expected{"run",
                                         "demo",
                                         "README.txt",
                                         "screenshot.png",
                                         "assets/",
                                         "assets/biisi.mp3",
                                         "assets/vornalogo.png",
                                         "assets/text1.png",
                                         "assets/text2.png",
                                         "assets/shaders/",
                                         "assets/shaders/std.glsl",
                                         "assets/shaders/plasma.vert",
                                         "assets/shaders/plasma.frag"};
    EXPECT_EQ(tree(top), expected);
    EXPECT_TRUE(executable(top / "run"));
    EXPECT_TRUE(executable(top / "demo"));
    EXPECT_EQ(read_file(top / "screenshot.png"), read_file(SOURCE_DIR "/docs/capture.png"));
    EXPECT_EQ(read_file(top / "assets/biisi.mp3"), read_file(SOURCE_DIR "/assets/biisi.mp3"));

    const std::string info = read_file(top / "README.txt");
    for (const char* needed : {"./run", "Escape", "libsdl1.2debian", "libsdl-image1.2",
                               "libsdl-mixer1.2", "libglew2.2", "libglu1-mesa", "tools/capture"})
        EXPECT_NE(info.find(needed), std::string::npos) << needed;

    // Started from elsewhere through a symlink to it (as from ~/bin), on the
    // test run's display, under the rig's scripted clock: 10 frames per second
    // of demo time, 301 frames in all.
    fs::create_directory(dir.path() / "bin");
    fs::create_symlink(top / "run", dir.path() / "bin/vorna");
    const Result result = Command({dir / "bin/vorna"})
                              .in_dir(dir.path().string())
                              .set("LD_PRELOAD", RIG_LIBRARY)
                              .set("RIG_FPS", "10")
                              .set("RIG_LOG", dir / "rig.log")
                              .set("SDL_AUDIODRIVER", "dummy")
                              .run();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.signal, 0);
    const std::string log = read_file(dir / "rig.log");
    // A line per swap (besides the one that names the window).
    int swaps = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        swaps += line.rfind("frame ", 0) == 0;
    EXPECT_EQ(swaps, 301);
    EXPECT_NE(log.find("frame 300 ticks 30000\n"), std::string::npos)
        << log.substr(log.size() > 200 ? log.size() - 200 : 0);
    // It writes nothing into its folder.
    EXPECT_EQ(tree(top), expected);
}

// The launcher's messages, one table: each missing library named once with
// the package that holds it, and only those packages (where SDL 1.2 is
// sdl12-compat, Debian 12's libsdl1.2-compat-shim, asking for classic SDL's
// package would replace it); a library there but unloadable; a release whose
// images are gone. A stand-in ldd reports what the case says.
TEST(Launcher, names_what_is_missing_once_and_the_package_that_brings_it)
{
    Scratch dir;
    fs::copy_file(SOURCE_DIR "/packaging/run", dir / "run");
    fs::create_directories(dir.path() / "assets");
    fs::create_directories(dir.path() / "bin");
    std::ofstream(dir / "bin/ldd")
        << "#!/bin/sh\n"
           "[ -z \"$BROKEN\" ] || { echo \"$1: error while loading shared libraries: $BROKEN\" "
           ">&2; exit 1; }\n"
           "for library in $MISSING; do printf '\\t%s => not found\\n' $library; done\n"
           "printf '\\tlibc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x1000)\\n'\n";
    fs::permissions(dir / "bin/ldd", fs::perms::owner_all);

    const std::string missing_line = "vorna: missing libraries: ";
    const std::string install_line = "vorna: install them with: sudo apt-get install ";
    const struct {
        std::string missing, broken, err;
    } cases[] = {
        {"libSDL_image-1.2.so.0 libGLEW.so.2.2", "",
         missing_line + "libSDL_image-1.2.so.0 libGLEW.so.2.2\n" + install_line +
             "libsdl-image1.2 libglew2.2\n"},
        // SDL_image and SDL_mixer need SDL too: ldd lists it once per library.
        {"libSDL-1.2.so.0 libSDL_mixer-1.2.so.0 libSDL-1.2.so.0 libSDL-1.2.so.0", "",
         missing_line + "libSDL-1.2.so.0 libSDL_mixer-1.2.so.0\n" + install_line +
             "libsdl1.2debian libsdl-mixer1.2\n"},
        {"libGLU.so.1 libOpenGL.so.0 libGLX.so.0", "",
         missing_line + "libGLU.so.1 libOpenGL.so.0 libGLX.so.0\n" + install_line +
             "libglu1-mesa libopengl0 libglx0\n"},
        {"libpng16.so.16", "",
         missing_line + "libpng16.so.16\nvorna: and the packages that hold: libpng16.so.16 "
                        "(apt-file search NAME finds them)\n"},
        {"", "/usr/lib/x86_64-linux-gnu/libSDL-1.2.so.0: invalid ELF header",
         "vorna: cannot load /usr/lib/x86_64-linux-gnu/libSDL-1.2.so.0: invalid ELF header\n"
         "vorna: reinstall it with: sudo apt-get install --reinstall libsdl1.2debian\n"},
        {"", "", "vorna: assets/vornalogo.png is missing from the release; unpack it again\n"},
    };
    for (const auto& c : cases) {
        const Result result = Command({dir / "run"})
                                  .set("PATH", (dir / "bin") + ":" + std::getenv("PATH"))
                                  .set("MISSING", c.missing)
                                  .set("BROKEN", c.broken)
                                  .run();
        EXPECT_EQ(result.status, 1) << c.err;
        EXPECT_EQ(result.err, c.err);
    }
}
