#pragma once
// A scripted serial line for exchange tests without a device: the controller's
// bytes arrive in chunks, one chunk becoming visible every few queue polls, or
// at given times on a fake clock (timed chunks); a read that asks for more than
// is visible takes later chunks as if they arrived during its wait (and lets the
// clock run for the read's time-out when they do not). The transmit side records
// what was sent, can be stuck (full window) or stop taking bytes.
#include "Clock.h"
#include "SerialBackend.h"

#include <algorithm>
#include <deque>
#include <string>

struct FakeClock;

struct FakeLineState {
    std::deque<std::string> chunks;   // not yet arrived
    struct Timed { std::uint32_t atMs; std::string bytes; };
    std::deque<Timed> timed;          // arrive when the clock reaches atMs
    FakeClock* clock = nullptr;       // needed for timed chunks and blocking transfers
    std::string arrived;              // visible, not yet read
    int pollsPerChunk = 3;
    int polls = 0;
    std::string sent;
    int outputQueued = 0;             // 64 or more: the window is full, nothing goes out
    bool openFails = false;
    bool isOpen = false;
    int opens = 0;
    size_t bytesRead = 0;
    int takeLimit = -1;               // bytes the line takes before it stops (-1: no limit)
    std::string stale;                // bytes waiting in the queue before an open
    int waits = 0;                    // sleeping waits the exchange made
    void script(std::string bytes) { chunks.push_back(std::move(bytes)); }
    void scriptAt(std::uint32_t atMs, std::string bytes) { timed.push_back({atMs, std::move(bytes)}); }
    inline void revealTimed();
    inline void advance(std::uint32_t ms);
};

struct FakeLineBackend : SerialBackend {
    FakeLineState& s;
    explicit FakeLineBackend(FakeLineState& state) : s(state) {}
    bool open(const std::string&) override {
        ++s.opens;
        s.isOpen = !s.openFails;
        if (s.isOpen) // stale bytes were in the queue; the real backends discard them on open
            s.stale.clear();
        return s.isOpen;
    }
    bool isOpen() const override { return s.isOpen; }
    void close() override { s.isOpen = false; }
    bool readSettings() override { return true; }
    bool applySettings(const SerialLineSettings&) override { return true; }
    bool applyTimeouts(const SerialTimeouts&) override { return true; }
    bool queueCounts(int& in, int& out) override {
        s.revealTimed();
        if (!s.chunks.empty() && ++s.polls >= s.pollsPerChunk) {
            s.polls = 0;
            s.arrived += s.chunks.front();
            s.chunks.pop_front();
        }
        in = static_cast<int>(s.stale.size() + s.arrived.size());
        out = s.outputQueued;
        return true;
    }
    int write(const void* data, int count) override {
        int n = count;
        if (s.takeLimit >= 0) {
            n = std::min(count, s.takeLimit);
            s.takeLimit -= n;
        }
        s.sent.append(static_cast<const char*>(data), static_cast<size_t>(n));
        if (n < count) // a blocking write runs into its time-out: count ms + 1000
            s.advance(static_cast<std::uint32_t>(count) + 1000);
        return n;
    }
    int read(void* buffer, int count) override {
        if (!s.stale.empty()) {
            s.arrived.insert(0, s.stale);
            s.stale.clear();
        }
        s.revealTimed();
        while (s.arrived.size() < static_cast<size_t>(count) && !s.chunks.empty()) {
            s.arrived += s.chunks.front();
            s.chunks.pop_front();
        }
        const size_t n = std::min(s.arrived.size(), static_cast<size_t>(count));
        s.arrived.copy(static_cast<char*>(buffer), n);
        s.arrived.erase(0, n);
        s.bytesRead += n;
        if (n < static_cast<size_t>(count))
            s.advance(static_cast<std::uint32_t>(count) + 1000);
        return static_cast<int>(n);
    }
    bool waitForInput(int moreThan, int timeoutMs) override {
        ++s.waits;
        if (s.timed.empty() || !s.clock)
            return false; // poll-driven chunks: the next pass reveals them
        const auto visible = [&] { return static_cast<int>(s.stale.size() + s.arrived.size()); };
        s.revealTimed();
        while (visible() <= moreThan && !s.timed.empty()) {
            if (!waitUntil(s.timed.front().atMs, timeoutMs))
                return false;
            s.revealTimed();
        }
        return visible() > moreThan;
    }
    void waitForOutput(int timeoutMs) override {
        ++s.waits;
        s.advance(static_cast<std::uint32_t>(std::min(timeoutMs, 1)));
    }

private:
    inline bool waitUntil(std::uint32_t at, int timeoutMs);
};

// Advances by step milliseconds on every reading, so polling loops move on.
struct FakeClock : MonotonicClock {
    std::uint32_t now = 1000;
    std::uint32_t step = 1;
    std::uint32_t nowMs() override {
        now += step;
        return now;
    }
};

inline void FakeLineState::revealTimed() {
    while (clock && !timed.empty() && static_cast<std::int32_t>(clock->now - timed.front().atMs) >= 0) {
        arrived += timed.front().bytes;
        timed.pop_front();
    }
}

inline void FakeLineState::advance(std::uint32_t ms) {
    if (clock)
        clock->now += ms;
}

inline bool FakeLineBackend::waitUntil(std::uint32_t at, int timeoutMs) {
    const std::uint32_t now = s.clock->now;
    const std::uint32_t wait = static_cast<std::int32_t>(at - now) > 0 ? at - now : 0;
    if (wait > static_cast<std::uint32_t>(timeoutMs)) {
        s.clock->now = now + static_cast<std::uint32_t>(timeoutMs);
        return false;
    }
    s.clock->now = now + wait;
    return true;
}

// Frame bytes: type word, length, payload, trailer.
inline std::string frameBytes(std::uint16_t typeWord, const std::string& payload, const std::string& trailer = std::string(4, '\0')) {
    std::string f;
    f += static_cast<char>(typeWord & 0xFF);
    f += static_cast<char>(typeWord >> 8);
    f += static_cast<char>(payload.size() & 0xFF);
    f += static_cast<char>(payload.size() >> 8);
    return f + payload + trailer;
}
