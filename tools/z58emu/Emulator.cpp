#include "Emulator.h"

#include "Cp1251.h"
#include "Frame.h"
#include "PortPath.h"
#include "crc32.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

// Message types the emulator speaks (the controller's side of the catalogue).
enum : std::uint16_t {
    tNull = 0, tReqIdInfo = 10, tIdInfo = 11, tIdSet = 13, tReqVersion = 14, tRestart = 15,
    tStartCalibration = 22, tReqDiagnostic = 114, tDiagnostic = 115, tText = 150, tCommit = 190,
    tCommitAck = 191, tFragment = 192, tFragmentAck = 193, tBeginAck = 194, tBeginFirmware = 195,
    tBeginWave = 196, tReqSettings = 200, tSettings = 201,
};

constexpr size_t kMaxUpload = 16u * 1024 * 1024; // ignore fragments beyond any real upload

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<std::uint32_t>(p[3]) << 24;
}
void put16(std::vector<unsigned char>& v, std::uint16_t x) {
    v.push_back(static_cast<unsigned char>(x));
    v.push_back(static_cast<unsigned char>(x >> 8));
}
void put32(std::vector<unsigned char>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<unsigned char>(x >> (8 * i)));
}

std::string jsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') { out += '\\'; out += static_cast<char>(c); }
        else if (c < 0x20) { char b[8]; std::snprintf(b, sizeof b, "\\u%04x", c); out += b; }
        else out += static_cast<char>(c);
    }
    return out + "\"";
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

} // namespace

// What a controller that does not keep every value makes of a written text.
std::string Emulator::keep(const std::string& text) const {
    if (o_.dropKey.empty() && o_.limitKey.empty())
        return text;
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const bool lf = end != std::string::npos;
        std::string line = text.substr(start, lf ? end - start : std::string::npos);
        start = lf ? end + 1 : text.size();
        const size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? line : line.substr(0, eq);
        if (key == o_.dropKey)
            continue;
        if (key == o_.limitKey && eq != std::string::npos && std::strtol(line.c_str() + eq + 1, nullptr, 10) > o_.limitMax)
            line = key + "=" + std::to_string(o_.limitMax);
        out += line + (lf ? "\n" : "");
    }
    return out;
}

Emulator::Emulator(EmulatorOptions options) : o_(std::move(options)) {}

Emulator::~Emulator() {
    closeLine();
    if (control_ >= 0)
        ::close(control_);
    if (log_)
        std::fclose(log_);
}

bool Emulator::openLine() {
    char name[256] = {};
    termios t{};
    cfmakeraw(&t);
    if (openpty(&master_, &slave_, name, &t, nullptr) != 0)
        return false;
    // Keep our own slave descriptor open so the line stays up between the
    // tool's opens and closes, as a plugged-in controller does.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    path_ = name;
    if (!o_.registerAs.empty()) {
        namespace fs = std::filesystem;
        const fs::path link = fs::path(portAliasDir()) / o_.registerAs;
        std::error_code ec;
        fs::create_directories(link.parent_path(), ec);
        fs::remove(link, ec);
        fs::create_symlink(path_, link, ec);
        if (ec) {
            std::fprintf(stderr, "z58emu: cannot register %s: %s\n", link.c_str(), ec.message().c_str());
            return false;
        }
    }
    std::printf("READY %s\n", path_.c_str());
    std::fflush(stdout);
    return true;
}

void Emulator::closeLine() {
    if (!o_.registerAs.empty() && !path_.empty() && master_ >= 0) {
        std::error_code ec;
        const auto link = std::filesystem::path(portAliasDir()) / o_.registerAs;
        if (std::filesystem::read_symlink(link, ec) == path_)
            std::filesystem::remove(link, ec);
    }
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
}

bool Emulator::start() {
    if (!o_.logPath.empty()) {
        log_ = std::fopen(o_.logPath.c_str(), "a");
        if (!log_) {
            std::fprintf(stderr, "z58emu: cannot open log %s\n", o_.logPath.c_str());
            return false;
        }
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    return openControl() && openLine();
}

bool Emulator::openControl() {
    if (o_.controlPath.empty())
        return true;
    struct stat st {};
    if (::stat(o_.controlPath.c_str(), &st) != 0 && ::mkfifo(o_.controlPath.c_str(), 0600) != 0) {
        std::fprintf(stderr, "z58emu: cannot make the control FIFO %s: %s\n", o_.controlPath.c_str(), std::strerror(errno));
        return false;
    }
    if (::stat(o_.controlPath.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
        std::fprintf(stderr, "z58emu: %s is not a FIFO\n", o_.controlPath.c_str());
        return false;
    }
    // Read and write: the FIFO never reads as ended when a writer closes it.
    control_ = ::open(o_.controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (control_ < 0) {
        std::fprintf(stderr, "z58emu: cannot open %s: %s\n", o_.controlPath.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void Emulator::readControl() {
    char buf[256];
    ssize_t n;
    while ((n = ::read(control_, buf, sizeof buf)) > 0)
        controlInbox_.append(buf, static_cast<size_t>(n));
    for (size_t lf; (lf = controlInbox_.find('\n')) != std::string::npos;) {
        std::string line = controlInbox_.substr(0, lf);
        controlInbox_.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        command(line);
    }
}

void Emulator::command(const std::string& line) {
    const bool plugged = master_ >= 0;
    if (line == "unplug" && plugged) {
        std::fprintf(stderr, "z58emu: unplugged\n");
        closeLine();
        inbox_.clear();
    } else if (line == "plug" && !plugged) {
        std::fprintf(stderr, "z58emu: plugged in\n");
        if (!comeBack())
            gone_ = true;
    } else if (line == "restart" && plugged) {
        restart();
    } else if (line == "unplug" || line == "plug" || line == "restart") {
        std::fprintf(stderr, "z58emu: %s ignored: the line is %s\n", line.c_str(), plugged ? "up" : "unplugged");
    } else if (!line.empty()) {
        std::fprintf(stderr, "z58emu: unknown command \"%s\" (unplug, plug, restart)\n", line.c_str());
    }
}

// A new pseudo-terminal for the same controller, under its new name if it has one.
bool Emulator::comeBack() {
    if (!o_.comeBackAs.empty())
        o_.registerAs = o_.comeBackAs;
    return openLine();
}

int Emulator::run() {
    unsigned char buf[4096];
    while (!g_stop && !gone_) {
        pollfd p[2];
        nfds_t count = 0;
        const bool listening = master_ >= 0 && !o_.deaf;
        if (control_ >= 0)
            p[count++] = pollfd{control_, POLLIN, 0};
        if (listening)
            p[count++] = pollfd{master_, POLLIN, 0};
        if (count == 0) {
            sleepMs(100);
            continue;
        }
        if (::poll(p, count, 100) <= 0)
            continue;
        if (control_ >= 0 && p[0].revents) {
            // A command may have replaced the line this poll was for: poll again.
            readControl();
            continue;
        }
        if (!listening || !p[count - 1].revents)
            continue;
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) {
            sleepMs(5); // EIO while no one holds the line: wait for the next open
            continue;
        }
        inbox_.insert(inbox_.end(), buf, buf + n);
        // Take every complete frame: header, payload, trailer.
        while (inbox_.size() >= 4 && !gone_) {
            const frame::Header h = frame::decodeHeader(inbox_.data());
            const size_t length = h.length;
            if (inbox_.size() < 4 + length + 4)
                break;
            Frame f{h.typeWord, std::vector<unsigned char>(inbox_.begin() + 4, inbox_.begin() + 4 + static_cast<long>(length))};
            inbox_.erase(inbox_.begin(), inbox_.begin() + 8 + static_cast<long>(length));
            handle(f);
        }
    }
    return 0;
}

void Emulator::log(const Frame& f, const std::string& extra) {
    if (!log_)
        return;
    std::fprintf(log_, "{\"type\":%u,\"flag\":%s,\"length\":%zu%s}\n", f.typeWord & 0x7FFFu,
                 (f.typeWord & 0x8000u) ? "true" : "false", f.payload.size(), extra.c_str());
    std::fflush(log_);
}

std::string Emulator::versionReply() const {
    if (o_.rawVersionText)
        return o_.versionText;
    return o_.type + "\n" + o_.version + "\n" + o_.date;
}

void Emulator::vanish() {
    std::fprintf(stderr, "z58emu: line gone (unplugged)\n");
    closeLine();
    inbox_.clear();
    // With a control channel it can be plugged in again.
    gone_ = control_ < 0;
}

void Emulator::restart() {
    std::fprintf(stderr, "z58emu: restart\n");
    // A committed firmware upload is what it runs from now on.
    if (!pendingVersion_.empty()) {
        o_.version = pendingVersion_;
        pendingVersion_.clear();
    }
    if (o_.restartDropMs > 0) {
        closeLine();
        inbox_.clear();
        sleepMs(o_.restartDropMs);
        if (!comeBack())
            gone_ = true;
    }
}

void Emulator::reply(std::uint16_t type, const std::vector<unsigned char>& payload) {
    if (o_.silent)
        return;
    std::vector<unsigned char> frame;
    put16(frame, static_cast<std::uint16_t>(type | (o_.flagBit ? 0x8000u : 0u)));
    put16(frame, static_cast<std::uint16_t>(o_.oversize ? 1017 : payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    if (o_.oversize)
        frame.resize(4 + 1017, 0);
    put32(frame, 0xDEADBEEF); // the trailer's content is not examined
    frame.insert(frame.end(), static_cast<size_t>(o_.strayBytes), 0x5A);
    if (o_.slowMs > 0)
        sleepMs(o_.slowMs);
    if (o_.vanishMidReply == requests_) {
        (void)!::write(master_, frame.data(), frame.size() / 2);
        sleepMs(50);
        vanish();
        return;
    }
    const size_t piece = o_.chunkSize > 0 ? static_cast<size_t>(o_.chunkSize) : frame.size();
    for (size_t at = 0; at < frame.size(); at += piece) {
        const size_t n = std::min(piece, frame.size() - at);
        (void)!::write(master_, frame.data() + at, n);
        if (at + n < frame.size() && o_.chunkSize > 0)
            sleepMs(o_.chunkPauseMs);
    }
}

bool Emulator::commitMatches(std::uint32_t count, std::uint32_t crc) const {
    if (upload_.size() < 8 || upload_.size() - 8 != count)
        return false;
    for (size_t i = 8; i < upload_.size(); ++i)
        if (!covered_[i])
            return false;
    return crc32(upload_.data() + 8, count) == crc;
}

void Emulator::handle(const Frame& f) {
    ++requests_;
    const std::uint16_t type = f.typeWord & 0x7FFF;
    const auto& p = f.payload;
    std::string extra;
    if (type == tFragment && p.size() >= 6)
        extra = ",\"offset\":" + std::to_string(le32(p.data())) + ",\"block\":" + std::to_string(p[4] | p[5] << 8);
    else if (type == tSettings)
        extra = ",\"text\":" + jsonString(cp1251::toUtf8(std::string(p.begin(), std::find(p.begin(), p.end(), 0))));
    else if (type == tCommit && p.size() == 8)
        extra = ",\"count\":" + std::to_string(le32(p.data())) + ",\"crc\":" + std::to_string(le32(p.data() + 4));
    else if (type == tIdSet && p.size() == 4)
        extra = ",\"id\":" + std::to_string(le32(p.data()));
    log(f, extra);

    if (o_.wrongType) {
        reply(type == tFragment ? tCommitAck : tFragmentAck, {});
        return;
    }
    switch (type) {
    case tReqIdInfo:
    case tStartCalibration: {
        std::vector<unsigned char> id;
        put32(id, o_.serial);
        reply(tIdInfo, id);
        break;
    }
    case tIdSet: {
        if (p.size() == 4)
            o_.serial = le32(p.data());
        std::vector<unsigned char> id;
        put32(id, o_.serial);
        reply(tIdInfo, id);
        break;
    }
    case tReqVersion: {
        const std::string text = versionReply();
        std::vector<unsigned char> payload;
        put16(payload, static_cast<std::uint16_t>(text.size()));
        payload.insert(payload.end(), text.begin(), text.end());
        reply(tText, payload);
        break;
    }
    case tReqSettings:
    case tSettings: {
        if (type == tSettings)
            o_.settings = keep(std::string(p.begin(), std::find(p.begin(), p.end(), 0)));
        std::vector<unsigned char> payload(o_.settings.begin(), o_.settings.end());
        payload.push_back(0);
        reply(tSettings, payload);
        break;
    }
    case tBeginFirmware:
    case tBeginWave:
        firmwareUpload_ = type == tBeginFirmware;
        upload_.clear();
        covered_.clear();
        fragments_ = 0;
        reply(tBeginAck, {});
        break;
    case tFragment: {
        ++fragments_;
        if (p.size() >= 6) {
            const size_t offset = le32(p.data());
            const size_t length = static_cast<size_t>(p[4] | p[5] << 8);
            if (length == p.size() - 6 && offset + length <= kMaxUpload) {
                if (upload_.size() < offset + length) {
                    upload_.resize(offset + length, 0);
                    covered_.resize(offset + length, false);
                }
                std::copy(p.begin() + 6, p.end(), upload_.begin() + static_cast<long>(offset));
                std::fill(covered_.begin() + static_cast<long>(offset), covered_.begin() + static_cast<long>(offset + length), true);
            }
        }
        if (o_.vanishAfter >= 0 && fragments_ >= o_.vanishAfter) {
            vanish();
            return;
        }
        if (o_.stopAckAfter >= 0 && fragments_ > o_.stopAckAfter)
            return;
        if (o_.intrudeAfter >= 0 && fragments_ == o_.intrudeAfter) {
            std::vector<unsigned char> id;
            put32(id, o_.serial);
            reply(tIdInfo, id);
            return;
        }
        reply(tFragmentAck, {});
        break;
    }
    case tCommit: {
        const bool ok = p.size() == 8 && !o_.refuseCrc && commitMatches(le32(p.data()), le32(p.data() + 4));
        std::fprintf(stderr, "z58emu: commit %s\n", ok ? "confirmed" : "refused");
        if (ok && firmwareUpload_ && upload_.size() >= 8 + 1024 + 96) {
            const char* v = reinterpret_cast<const char*>(upload_.data() + 8 + 1024 + 48);
            pendingVersion_.assign(v, strnlen(v, 16));
        }
        reply(ok ? tCommitAck : tNull, {});
        break;
    }
    case tReqDiagnostic: {
        std::vector<unsigned char> block(24);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<unsigned char>(0xA0 + i);
        reply(tDiagnostic, block);
        break;
    }
    case tRestart:
        restart();
        break;
    default:
        break; // unknown requests get no answer
    }
}
