// The emulator program with a standard output that cannot be written: what
// it prints there is how its caller learns where the port is, so it says so
// and ends instead of serving a port nobody can find.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Generous: it bounds a wait, it measures nothing.
constexpr auto kPatience = 20s;

struct Ended {
    std::optional<int> status;  // none when it had to be killed
    std::string log;
};

// Runs the emulator with its standard output on /dev/full.
Ended runOnFullOutput(std::vector<std::string> args, const fs::path& dir) {
    const fs::path log = dir / "stderr.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    args.insert(args.begin(), KORV_DEVSIM_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    Ended ended;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return ended;
        }
        std::this_thread::sleep_for(10ms);
    }
    ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream file(log);
    ended.log.assign(std::istreambuf_iterator<char>(file), {});
    return ended;
}

class DevsimOutput : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "devsim-output-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(DevsimOutput, ServesNothingWhenItCannotSayWhere) {
    const fs::path ports = dir / "ports";
    const Ended ended = runOnFullOutput({"--port-map", ports.string()}, dir);
    ASSERT_TRUE(ended.status.has_value()) << "still serving";
    EXPECT_EQ(*ended.status, 1);
    EXPECT_NE(ended.log.find("cannot write standard output"), std::string::npos) << ended.log;
    // The port it could not announce is not left behind either.
    EXPECT_FALSE(fs::exists(ports)) << "the port map it made is left behind";
}

TEST_F(DevsimOutput, HelpAndVersionThatCannotBeWrittenFail) {
    for (const char* option : {"--help", "--version"}) {
        const Ended ended = runOnFullOutput({option}, dir);
        ASSERT_TRUE(ended.status.has_value()) << option;
        EXPECT_EQ(*ended.status, 1) << option;
    }
}

} // namespace
