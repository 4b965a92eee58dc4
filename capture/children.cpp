// The capture program's child processes (children.h).
#include "children.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace children {

namespace {

// Every group started and not yet stopped, with its first process's end once known.
struct Group {
    pid_t pid;
    std::optional<End> end;
};
std::vector<Group> groups;
volatile sig_atomic_t asked = 0;

Group* group_of(pid_t pid)
{
    for (Group& group : groups)
        if (group.pid == pid)
            return &group;
    return nullptr;
}

End end_of(int status)
{
    End end;
    if (WIFEXITED(status))
        end.status = WEXITSTATUS(status);
    else {
        end.status = -1;
        end.signal = WTERMSIG(status);
    }
    return end;
}

// Collects the first process's end: without waiting, or waiting for it.
std::optional<End> reap(pid_t pid, bool block)
{
    Group* group = group_of(pid);
    if (group && group->end)
        return group->end;
    int status = 0;
    for (;;) {
        const pid_t got = waitpid(pid, &status, block ? 0 : WNOHANG);
        if (got == pid)
            break;
        if (got == 0 || errno != EINTR || asked)
            return std::nullopt;
    }
    if (group)
        group->end = end_of(status);
    return end_of(status);
}

}  // namespace

std::string End::said() const
{
    if (status >= 0)
        return "exit status " + std::to_string(status);
    return std::string("crashed (") + strsignal(signal) + ")";
}

pid_t start(const Start& what)
{
    std::map<std::string, std::optional<std::string>> changes = what.env;
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!changes.count(text.substr(0, text.find('='))))
            environment.push_back(text);
    }
    for (const auto& [name, value] : changes)
        if (value)
            environment.push_back(name + "=" + *value);
    std::vector<char*> argv, envp;
    for (const std::string& arg : what.argv)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        // Ends with capture however capture ends (it has one thread, the one
        // that forked); a capture already gone by now is no parent to outlive.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        const int in = open(what.input.c_str(), O_RDONLY);
        const int out = open(what.output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in == -1 || out == -1 || (!what.dir.empty() && chdir(what.dir.c_str()) != 0))
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid > 0) {
        setpgid(pid, pid);  // also here, so that it holds before either side goes on
        groups.push_back({pid, std::nullopt});
    }
    return pid;
}

std::optional<End> ended(pid_t pid)
{
    return reap(pid, false);
}

std::optional<End> wait(pid_t pid)
{
    return reap(pid, true);
}

// The whole group goes, not only its first process: what the program started
// ends with it.
End stop(pid_t pid)
{
    if (kill(-pid, SIGTERM) == 0) {
        for (int tries = 0; tries < 50; ++tries) {
            reap(pid, false);
            if (kill(-pid, 0) != 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        kill(-pid, SIGKILL);
    }
    std::optional<End> end = reap(pid, false);
    while (!end) {
        int status = 0;
        if (waitpid(pid, &status, 0) == pid)
            end = end_of(status);
        else if (errno != EINTR)
            end = End{};
    }
    for (auto at = groups.begin(); at != groups.end(); ++at)
        if (at->pid == pid) {
            groups.erase(at);
            break;
        }
    return *end;
}

void stop_all()
{
    while (!groups.empty())
        stop(groups.back().pid);
}

std::optional<End> run(const Start& what)
{
    const pid_t pid = start(what);
    if (pid < 0)
        return End{127, 0};
    const std::optional<End> end = wait(pid);
    if (!end)
        stop(pid);
    return end;
}

void catch_stop_signals()
{
    struct sigaction action {};
    action.sa_handler = [](int number) { asked = number; };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a wait that a signal breaks returns
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int stop_signal()
{
    return asked;
}

}  // namespace children
