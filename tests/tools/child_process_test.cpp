// The tests' own child processes end with the test, whatever the outcome: an
// emulator that is not ready, a program that hangs, and a test process that
// dies without running a destructor.
#include "ChildProcess.h"
#include "EmulatorProcess.h"
#include "RunProgram.h"
#include "TempDir.h"
#include <cerrno>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// No child of this test process is left, running or unreaped.
bool noChildren() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

// PID is gone (or a zombie of someone else) within five seconds.
bool endsSoon(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        if (!std::getline(stat, text))
            return true;
        const auto close = text.rfind(") ");
        if (close != std::string::npos && text.compare(close + 2, 1, "Z") == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

TEST(child_process, an_emulator_not_ready_in_time_is_stopped_before_the_constructor_throws) {
    {
        // Its settings come from a pipe nobody writes: it can never get ready.
        TempDir dir;
        const std::string never = dir / "never";
        ASSERT_EQ(::mkfifo(never.c_str(), 0600), 0);
        EXPECT_THROW(EmulatorProcess({"--serial", "5", "--settings", never}, 100), std::runtime_error);
    }
    EXPECT_TRUE(noChildren());
    EXPECT_THROW(EmulatorProcess({"--settings", "/nonexistent/settings.txt"}), std::runtime_error);
    EXPECT_TRUE(noChildren());
    {
        EmulatorProcess emu({"--serial", "5"});
        EXPECT_EQ(emu.path().rfind("/dev/pts/", 0), 0u) << emu.path();
    }
    EXPECT_TRUE(noChildren());
}

TEST(child_process, a_program_still_running_at_the_limit_is_killed) {
    const auto start = std::chrono::steady_clock::now();
    const ProgramResult r = runProgram("/bin/sleep", {"30"}, "", std::chrono::milliseconds(300));
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(noChildren());
    // Within the limit the exit code and output come through.
    const ProgramResult ok = runProgram("/bin/sh", {"-c", "read x; echo \"$x\"; echo err >&2; exit 3"}, "in\n");
    EXPECT_EQ(ok.exitCode, 3);
    EXPECT_EQ(ok.out, "in\n");
    EXPECT_EQ(ok.err, "err\n");
    EXPECT_EQ(runProgram("/nonexistent/program", {}).exitCode, 127);
    EXPECT_TRUE(noChildren());
}

// A test process that crashes or is killed at its time limit runs no
// destructor: what it started must end anyway.
TEST(child_process, children_end_with_a_test_process_that_dies_without_cleaning_up) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t test = ::fork();
    if (test == 0) {
        ::close(fds[0]);
        pid_t pids[2] = {-1, -1};
        try {
            auto* emu = new EmulatorProcess({"--serial", "6"}); // never deleted
            pids[0] = emu->pid();
        } catch (...) {
        }
        pids[1] = child_process::forkTied();
        if (pids[1] == 0) {
            ::pause();
            ::_exit(0);
        }
        (void)!::write(fds[1], pids, sizeof pids);
        ::_exit(0);
    }
    ::close(fds[1]);
    pid_t pids[2] = {-1, -1};
    ASSERT_EQ(::read(fds[0], pids, sizeof pids), static_cast<ssize_t>(sizeof pids));
    ::close(fds[0]);
    ASSERT_EQ(::waitpid(test, nullptr, 0), test);
    ASSERT_GT(pids[0], 0) << "the emulator did not start";
    ASSERT_GT(pids[1], 0);
    EXPECT_TRUE(endsSoon(pids[0])) << "the emulator outlived its test process";
    EXPECT_TRUE(endsSoon(pids[1])) << "the forked child outlived its test process";
}
