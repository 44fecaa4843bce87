#include "support/Process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korv::test {
namespace {

using Clock = std::chrono::steady_clock;

int msUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env)
{
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStore;
    for (char** e = environ; *e != nullptr; ++e)
        envStore.emplace_back(*e);
    envStore.insert(envStore.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
}

Process::~Process()
{
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0)
        ::close(outFd_);
    if (errFd_ >= 0)
        ::close(errFd_);
}

// Reads what either pipe has within timeoutMs; false when nothing came.
bool Process::pump(int timeoutMs)
{
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (outFd_ < 0 && errFd_ < 0)
        return false;
    if (::poll(fds, 2, timeoutMs) <= 0)
        return false;
    int* const fdsOwned[2] = {&outFd_, &errFd_};
    std::string* const into[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(*fdsOwned[i], buffer, sizeof buffer);
        if (n > 0) {
            into[i]->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(*fdsOwned[i]);
            *fdsOwned[i] = -1;
        }
    }
    return true;
}

std::optional<std::string> Process::readLine(std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        const std::size_t end = out_.find('\n', lineStart_);
        if (end != std::string::npos) {
            std::string line = out_.substr(lineStart_, end - lineStart_);
            lineStart_ = end + 1;
            return line;
        }
        if (outFd_ < 0 || msUntil(deadline) == 0)
            return std::nullopt;
        pump(std::min(msUntil(deadline), 100));
    }
}

void Process::signal(int number) const
{
    if (pid_ > 0 && !status_)
        ::kill(pid_, number);
}

std::optional<int> Process::wait(std::chrono::milliseconds limit)
{
    if (pid_ <= 0)
        return std::nullopt;
    const Clock::time_point deadline = Clock::now() + limit;
    while (!status_) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (msUntil(deadline) == 0)
            return std::nullopt;
        pump(10);
    }
    // The rest of the output, until both pipes have ended or fall quiet.
    while (pump(100)) {
    }
    return status_;
}

Ran run(const std::string& program, const std::vector<std::string>& args,
        const std::vector<std::string>& env, std::chrono::milliseconds limit)
{
    Process process(program, args, env);
    Ran ran;
    ran.status = process.wait(limit);
    ran.out = process.out();
    ran.err = process.err();
    return ran;
}

} // namespace korv::test
