// The capture program's child processes (capture.cpp): the display, the
// encoder, the program and the tools it runs. Each is a process group of its
// own, dies with capture even when capture is killed outright, and is stopped
// as a whole, so nothing of a recording outlives it.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace children {

struct Start {
    std::vector<std::string> argv;  // argv[0] is looked up in PATH
    // Changes to capture's own environment: a value, or nullopt to unset.
    std::map<std::string, std::optional<std::string>> env;
    std::string dir;                   // the folder it runs in ("": capture's)
    std::string input = "/dev/null";   // its standard input
    std::string output = "/dev/null";  // its standard output and error, appended to
    int keep_fd = -1;                  // a descriptor it inherits as it is
};

// How a child ended: "exit status N" or "crashed (Segmentation fault)".
struct End {
    int status = 0;  // its exit status, or -1 when a signal ended it
    int signal = 0;
    bool clean() const { return status == 0; }
    std::string said() const;
};

pid_t start(const Start& what);
// How it ended, if it has, without waiting.
std::optional<End> ended(pid_t pid);
// Waits for it to end; nullopt when a stop signal came first (see stop_signal).
std::optional<End> wait(pid_t pid);
// SIGTERM to its group, SIGKILL to what is left after 5 s; waits for it.
End stop(pid_t pid);
// Stops every child still running.
void stop_all();
// Runs one to its end (or until a stop signal) and says how it ended.
std::optional<End> run(const Start& what);

// From here on SIGINT, SIGTERM and SIGHUP only ask capture to stop, which its
// waits and loops look at: the signal that asked, or 0.
void catch_stop_signals();
int stop_signal();

}  // namespace children
