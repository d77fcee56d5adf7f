#pragma once
// A program a test starts and watches while it runs: its stdout and stderr are
// read as they come (a test waits for a line, then acts), it can be asked to
// stop as Ctrl+C asks, and it is killed at the end of the scope if it still
// runs. POSIX: a child tied to the test (ChildProcess.h), stopped by SIGTERM.
// Windows (under Wine too): a process of its own group, stopped by Ctrl+Break.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include "ChildProcess.h"
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

class RunningProgram {
public:
    using Clock = std::chrono::steady_clock;

    RunningProgram(const std::string& program, const std::vector<std::string>& args) { start(program, args); }
    ~RunningProgram() {
        if (running())
            kill();
        for (std::thread& t : readers_)
            if (t.joinable())
                t.join();
        closeHandles();
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool started() const { return started_; }
    const std::string& lastProblem() const { return lastProblem_; }
    std::string out() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return out_;
    }
    std::string err() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return err_;
    }
    // Until done(out, err) holds (true) or timeout has passed (false).
    bool waitFor(const std::function<bool(const std::string& out, const std::string& err)>& done,
                 std::chrono::milliseconds timeout) const {
        std::unique_lock<std::mutex> lock(mutex_);
        // Both streams at their end: nothing more is coming.
        grew_.wait_for(lock, timeout, [&] { return done(out_, err_) || closed_ == 2; });
        return done(out_, err_);
    }
    bool outHasSoon(const std::string& text, int timeoutMs) const {
        return waitFor([&](const std::string& o, const std::string&) { return o.find(text) != std::string::npos; },
                       std::chrono::milliseconds(timeoutMs));
    }
    bool errHasSoon(const std::string& text, int timeoutMs) const {
        return waitFor([&](const std::string&, const std::string& e) { return e.find(text) != std::string::npos; },
                       std::chrono::milliseconds(timeoutMs));
    }

    // Asks it to stop as a technician's Ctrl+C does; false when that could not
    // be sent (Windows: why in lastProblem()).
    bool interrupt() {
#ifdef _WIN32
        // The program shares the test's console, in a process group of its own.
        if (::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, info_.dwProcessId))
            return true;
        lastProblem_ = "GenerateConsoleCtrlEvent failed, error " + std::to_string(::GetLastError());
        return false;
#else
        return pid_ > 0 && ::kill(pid_, SIGTERM) == 0;
#endif
    }

    // Its exit code once it has ended and its output is read; -1 when it did
    // not end within timeout (then it is killed) or was ended by a signal.
    int wait(std::chrono::milliseconds timeout) {
        const auto until = Clock::now() + timeout;
#ifdef _WIN32
        if (!started_)
            return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (::WaitForSingleObject(info_.hProcess, static_cast<DWORD>(std::max<long long>(left, 0))) != WAIT_OBJECT_0) {
            kill();
            joinReaders();
            return -1;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(info_.hProcess, &code);
        finished_ = true;
        joinReaders();
        return static_cast<int>(code);
#else
        if (pid_ <= 0)
            return exitCode_;
        const int status = child_process::reap(
            pid_, std::chrono::duration_cast<std::chrono::milliseconds>(std::max(until - Clock::now(), Clock::duration::zero())));
        pid_ = -1;
        joinReaders();
        exitCode_ = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exitCode_;
#endif
    }

private:
    bool running() const {
#ifdef _WIN32
        return started_ && !finished_;
#else
        return pid_ > 0;
#endif
    }
    void joinReaders() {
        for (std::thread& t : readers_)
            if (t.joinable())
                t.join();
    }
    void append(int stream, const char* data, size_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        (stream ? err_ : out_).append(data, size);
        grew_.notify_all();
    }
    void streamClosed() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++closed_;
        grew_.notify_all();
    }

#ifdef _WIN32
    static std::wstring wide(const std::string& utf8) {
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
        std::wstring w(static_cast<size_t>(n > 0 ? n - 1 : 0), L'\0');
        if (n > 1)
            ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, w.data(), n);
        return w;
    }
    // One argument as CommandLineToArgvW reads it back.
    static std::wstring quoted(const std::wstring& arg) {
        if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
            return arg;
        std::wstring q = L"\"";
        size_t slashes = 0;
        for (wchar_t c : arg) {
            if (c == L'\\') {
                ++slashes;
                continue;
            }
            q.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
            slashes = 0;
            q += c;
        }
        q.append(slashes * 2, L'\\');
        return q + L"\"";
    }
    void start(const std::string& program, const std::vector<std::string>& args) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE outWrite = nullptr, errWrite = nullptr;
        if (!::CreatePipe(&outRead_, &outWrite, &inherit, 0) || !::CreatePipe(&errRead_, &errWrite, &inherit, 0))
            return;
        ::SetHandleInformation(outRead_, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(errRead_, HANDLE_FLAG_INHERIT, 0);
        HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
        std::wstring command = quoted(wide(program));
        for (const std::string& a : args)
            command += L" " + quoted(wide(a));
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = nul;
        si.hStdOutput = outWrite;
        si.hStdError = errWrite;
        started_ = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                                    nullptr, &si, &info_) != 0;
        ::CloseHandle(outWrite);
        ::CloseHandle(errWrite);
        if (nul != INVALID_HANDLE_VALUE)
            ::CloseHandle(nul);
        if (!started_)
            return;
        for (int stream = 0; stream < 2; ++stream)
            readers_.emplace_back([this, stream] {
                HANDLE h = stream ? errRead_ : outRead_;
                char buf[4096];
                DWORD got = 0;
                while (::ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
                    append(stream, buf, got);
                streamClosed();
            });
    }
    void kill() {
        ::TerminateProcess(info_.hProcess, 1);
        ::WaitForSingleObject(info_.hProcess, 5000);
        finished_ = true;
    }
    void closeHandles() {
        for (HANDLE h : {outRead_, errRead_, info_.hProcess, info_.hThread})
            if (h)
                ::CloseHandle(h);
        outRead_ = errRead_ = info_.hProcess = info_.hThread = nullptr;
    }

    PROCESS_INFORMATION info_{};
    HANDLE outRead_ = nullptr, errRead_ = nullptr;
    bool finished_ = false;
#else
    void start(const std::string& program, const std::vector<std::string>& args) {
        int o[2], e[2], i[2];
        if (::pipe2(o, O_CLOEXEC) || ::pipe2(e, O_CLOEXEC) || ::pipe2(i, O_CLOEXEC))
            return;
        pid_ = child_process::spawn(program, args, i[0], o[1], e[1]);
        for (int fd : {o[1], e[1], i[0], i[1]}) // stdin at its end at once: nothing to answer
            ::close(fd);
        started_ = pid_ > 0;
        if (!started_) {
            ::close(o[0]);
            ::close(e[0]);
            return;
        }
        for (int stream = 0; stream < 2; ++stream)
            readers_.emplace_back([this, stream, fd = stream ? e[0] : o[0]] {
                char buf[4096];
                for (;;) {
                    const ssize_t got = ::read(fd, buf, sizeof buf);
                    if (got < 0 && errno == EINTR)
                        continue;
                    if (got <= 0)
                        break;
                    append(stream, buf, static_cast<size_t>(got));
                }
                ::close(fd);
                streamClosed();
            });
    }
    void kill() {
        child_process::stop(pid_, SIGKILL);
        pid_ = -1;
    }
    void closeHandles() {}

    pid_t pid_ = -1;
    int exitCode_ = -1;
#endif

    bool started_ = false;
    std::string lastProblem_;
    mutable std::mutex mutex_;
    mutable std::condition_variable grew_;
    std::string out_, err_;
    int closed_ = 0;
    std::vector<std::thread> readers_;
};
