// Child processes and scratch folders for the tests that run whole programs.
#include "command.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t count(const std::string& text, const std::string& part)
{
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

std::set<std::string> names_in(const fs::path& dir)
{
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

Scratch::Scratch()
{
    std::string pattern = (fs::temp_directory_path() / "vorna-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a scratch folder");
    path_ = pattern;
}

Scratch::~Scratch()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

Command::Command(std::vector<std::string> argv) : argv_(std::move(argv)) {}

Command::~Command()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

Command& Command::set(const std::string& name, const std::string& value)
{
    env_[name] = value;
    return *this;
}

Command& Command::unset(const std::string& name)
{
    env_[name] = std::nullopt;
    return *this;
}

Command& Command::in_dir(const std::string& dir)
{
    dir_ = dir;
    return *this;
}

Command& Command::close_output()
{
    close_output_ = true;
    return *this;
}

void Command::start()
{
    const std::string out = output_ / "out";
    const std::string err = output_ / "err";
    started_ = std::chrono::steady_clock::now();
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ > 0)
        return;
    // The child. The test process is single-threaded, so setenv is safe here.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    for (const auto& [name, value] : env_) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    std::vector<char*> args;
    for (std::string& arg : argv_)
        args.push_back(arg.data());
    args.push_back(nullptr);
    if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr) ||
        !std::freopen("/dev/null", "r", stdin) || (!dir_.empty() && chdir(dir_.c_str()) != 0))
        _exit(126);
    if (close_output_) {
        close(1);
        close(2);
    }
    execvp(args[0], args.data());
    std::perror(args[0]);
    _exit(127);
}

std::string Command::err_so_far() const
{
    return read_file(output_.path() / "err");
}

Result Command::wait()
{
    int status = 0;
    waitpid(pid_, &status, 0);
    return finish(status, false);
}

Result Command::wait(double limit_s)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit_s);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            return finish(status, true);
        }
        usleep(5000);
    }
    return finish(status, false);
}

Result Command::finish(int status, bool timed_out)
{
    pid_ = -1;
    Result result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    result.timed_out = timed_out;
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.out = read_file(output_.path() / "out");
    result.err = read_file(output_.path() / "err");
    return result;
}

Result Command::run()
{
    start();
    return wait();
}

std::string output_of(std::vector<std::string> argv)
{
    const std::string what = argv[0];
    const Result result = Command(std::move(argv)).run();
    if (result.status != 0)
        throw std::runtime_error(what + " failed: " + result.err);
    return result.out;
}
