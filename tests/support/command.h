// Test support for programs run the way a user runs them: child processes with
// their output in files, and scratch folders that clean up after themselves.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The whole content of a file, or "" when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// How many times part occurs in text (overlapping ones each counted).
size_t count(const std::string& text, const std::string& part);

// The names of the entries of a folder.
std::set<std::string> names_in(const std::filesystem::path& dir);

// A folder of our own under the temporary folder, removed with all it holds.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

struct Result {
    bool exited = false;     // ended by exit or return from main
    int status = -1;         // exit status, or -1 when killed by a signal
    int signal = 0;          // the signal that killed it, or 0
    bool timed_out = false;  // killed by us after the time limit
    double seconds = 0;      // wall time from start to end
    std::string out, err;
};

// A child process with our environment plus some changes, stdin from /dev/null
// and SIGINT and SIGTERM at their defaults (as from a terminal). Its output goes
// to files, so binary output comes back whole. Killed if still running at the end.
class Command {
public:
    explicit Command(std::vector<std::string> argv);
    ~Command();
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    Command& set(const std::string& name, const std::string& value);
    Command& unset(const std::string& name);
    Command& in_dir(const std::string& dir);
    // Starts the child with its standard output and error closed, as some
    // launchers do (out and err then stay empty).
    Command& close_output();

    void start();
    pid_t pid() const { return pid_; }
    std::string err_so_far() const;
    Result wait();
    // Kills the child if it has not ended limit_s seconds after the call.
    Result wait(double limit_s);
    Result run();

private:
    Result finish(int status, bool timed_out);

    std::vector<std::string> argv_;
    std::map<std::string, std::optional<std::string>> env_;
    std::string dir_;
    bool close_output_ = false;
    Scratch output_;
    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point started_;
};

// What a program printed on its standard output; throws when it fails.
std::string output_of(std::vector<std::string> argv);
