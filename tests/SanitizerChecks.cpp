// Built into the tests of a sanitizer build only (AddressSanitizer with
// LeakSanitizer, and UndefinedBehaviorSanitizer).
//
// The test itself stops at its first finding and fails. The programs it
// starts (the flasher, the emulator, the window program) are built with the
// same sanitizers, but many tests expect them to fail, and some never look at
// their exit status: so their reports go to files of their own, and each test
// fails when a program it started left one.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

// Of a program stopped by a sanitizer: no program of this project uses it.
#define KORV_SANITIZER_EXIT "86"

extern "C" const char* __asan_default_options()
{
    return "exitcode=" KORV_SANITIZER_EXIT ":detect_leaks=1:check_initialization_order=1";
}

extern "C" const char* __lsan_default_options()
{
    return "exitcode=" KORV_SANITIZER_EXIT ":suppressions=" KORV_LSAN_SUPPRESSIONS;
}

extern "C" const char* __ubsan_default_options()
{
    return "exitcode=" KORV_SANITIZER_EXIT ":print_stacktrace=1";
}

namespace {

namespace fs = std::filesystem;

class ChildReports : public testing::EmptyTestEventListener {
    void OnTestProgramStart(const testing::UnitTest&) override
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/korv-sanitizer.XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) {
            std::perror("cannot make a directory for sanitizer reports");
            std::_Exit(1);
        }
        dir_ = dir;
        // The sanitizers read these once, at a program's start: they reach
        // only the programs started from now on, not this one.
        const std::string common = "exitcode=" KORV_SANITIZER_EXIT ":log_path=" + dir + "/report";
        setenv("ASAN_OPTIONS", (common + ":detect_leaks=1:check_initialization_order=1").c_str(), 1);
        setenv("LSAN_OPTIONS", (common + ":suppressions=" KORV_LSAN_SUPPRESSIONS).c_str(), 1);
        setenv("UBSAN_OPTIONS", (common + ":print_stacktrace=1").c_str(), 1);
    }

    void OnTestEnd(const testing::TestInfo&) override
    {
        const std::string reports = takeReports();
        if (!reports.empty())
            ADD_FAILURE() << "a program this test started was stopped by a sanitizer:\n" << reports;
    }

    void OnTestProgramEnd(const testing::UnitTest&) override
    {
        // A report that came after the last test had ended still fails the run.
        const std::string late = takeReports();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
        if (!late.empty()) {
            std::fprintf(stderr, "a program a test started was stopped by a sanitizer:\n%s", late.c_str());
            std::fflush(stderr);
            std::_Exit(std::atoi(KORV_SANITIZER_EXIT));
        }
    }

    // The reports written so far, which are then removed.
    std::string takeReports() const
    {
        std::string all;
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_, error)) {
            std::ifstream file(entry.path(), std::ios::binary);
            all += entry.path().filename().string() + ":\n";
            all.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            fs::remove(entry.path(), error);
        }
        return all;
    }

    fs::path dir_;
};

const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new ChildReports);
    return true;
}();

} // namespace
