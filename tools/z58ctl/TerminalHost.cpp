#include "TerminalHost.h"

#include "Cli.h"
#include "Console.h"
#include "ResultCode.h"

#include <cstdio>
#include <iostream>

namespace cli {

TerminalHost::TerminalHost(const Args& args) : args_(args), tty_(stderrIsTerminal()) {}

void TerminalHost::endProgressLine() {
    if (lineOpen_)
        std::fputc('\n', stderr);
    lineOpen_ = false;
}

void TerminalHost::say(const std::string& line) {
    endProgressLine();
    err(visible(line, true));
}

bool TerminalHost::ask(const jobs::Question& q) {
    // Flashing another model's image is never answered by --yes.
    if (q.topic == jobs::Topic::OtherDeviceType) {
        if (args_.otherType)
            return true;
        say(q.line.substr(0, q.line.rfind(" Продолжить?")) + " Загрузить её можно только с --other-type.");
        return false;
    }
    if (args_.yes)
        return true;
    endProgressLine();
    std::fprintf(stderr, "%s [y/N] ", q.line.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return !answer.empty() &&
           (answer[0] == 'y' || answer[0] == 'Y' || answer.rfind("д", 0) == 0 || answer.rfind("Д", 0) == 0);
}

void TerminalHost::tell(const jobs::Notice& n) {
    if (n.windowOnly)
        return;
    if (n.result) {
        endProgressLine();
        std::fputs(visible(n.text, true).c_str(), stdout);
        return;
    }
    say(n.line.empty() ? n.caption + ": " + n.text : n.line);
}

void TerminalHost::log(const std::string& line) { say(line); }

void TerminalHost::detail(const std::string& line) { say(line); }

void TerminalHost::failed(const jobs::Failure& f) {
    if (f.code < 0)
        say(f.what + ": " + result::describe(f.code) + " (" + std::to_string(f.code) + ")");
    else
        say(f.what);
    if (!f.why.empty())
        say(f.why);
}

void TerminalHost::progress(const jobs::Progress& p) {
    if (p.size == 0)
        return;
    using Clock = std::chrono::steady_clock;
    if (p.blocksSent <= 1) {
        uploadStart_ = Clock::now();
        lastTenth_ = -1;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - uploadStart_).count();
    const int percent = static_cast<int>(100.0 * static_cast<double>(p.position) / static_cast<double>(p.size));
    const double rate = seconds > 0 ? static_cast<double>(p.position) / seconds : 0;
    const bool last = p.position >= p.size;
    if (tty_ || percent / 10 != lastTenth_ || last) {
        std::fprintf(stderr, "%sблок %zu/%zu  %3d%%  %.0f байт/с%s", tty_ ? "\r" : "", p.blocksSent, p.blockCount, percent,
                     rate, tty_ ? "" : "\n");
        lastTenth_ = percent / 10;
        lineOpen_ = tty_;
    }
}

void TerminalHost::reading(const jobs::Reading& r) {
    endProgressLine();
    for (const std::string& line : r.output)
        std::fputs((visible(line, false) + "\n").c_str(), stdout);
}

int TerminalHost::exitCode(jobs::Outcome outcome) {
    endProgressLine();
    switch (outcome) {
    case jobs::Outcome::Done: return kOk;
    case jobs::Outcome::Declined:
        // A declined job says so and exits with its own code, so a script never
        // takes "nothing happened" for "done".
        err("Отменено: в устройство ничего не отправлено.");
        return kDeclined;
    case jobs::Outcome::Refused: return kUsage;  // bad input: nothing was sent
    default: return kFailed;
    }
}

} // namespace cli
