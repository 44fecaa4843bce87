#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korv::test {

// A program of this project started by a test, with its standard output and
// error read on the side so it never blocks on a full pipe. The destructor
// kills it if it is still running.
class Process {
public:
    // env: extra "NAME=value" entries on top of the test's own environment.
    Process(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& env = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // The next line of standard output, without its line end; empty when
    // the program ends or limit passes first.
    std::optional<std::string> readLine(std::chrono::milliseconds limit);

    void signal(int number) const;
    // The exit status (128 + signal for a signal), or nothing if still
    // running after limit. Collects the rest of the output.
    std::optional<int> wait(std::chrono::milliseconds limit);

    // Everything read so far (after wait(): everything).
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

private:
    bool pump(int timeoutMs);  // false when nothing came within timeoutMs

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
    std::size_t lineStart_ = 0;  // where the next unread stdout line begins
    std::optional<int> status_;
};

// Runs a program to its end: exit status, stdout and stderr.
struct Ran {
    std::optional<int> status;  // nothing: it did not end within the limit and was killed
    std::string out;
    std::string err;
};
Ran run(const std::string& program, const std::vector<std::string>& args,
        const std::vector<std::string>& env = {}, std::chrono::milliseconds limit = std::chrono::seconds(60));

} // namespace korv::test
