#pragma once
// A scripted serial line for exchange tests without a device: the controller's
// bytes arrive in chunks, one chunk becoming visible every few queue polls; a
// read that asks for more than is visible takes later chunks as if they arrived
// during its wait. The transmit side records what was sent and can be stuck.
#include "Clock.h"
#include "SerialBackend.h"

#include <deque>
#include <string>

struct FakeLineState {
    std::deque<std::string> chunks;   // not yet arrived
    std::string arrived;              // visible, not yet read
    int pollsPerChunk = 3;
    int polls = 0;
    std::string sent;
    int outputQueued = 0;             // 64 or more: the window is full, nothing goes out
    bool openFails = false;
    bool isOpen = false;
    int opens = 0;
    size_t bytesRead = 0;
    void script(std::string bytes) { chunks.push_back(std::move(bytes)); }
};

struct FakeLineBackend : SerialBackend {
    FakeLineState& s;
    explicit FakeLineBackend(FakeLineState& state) : s(state) {}
    bool open(const std::string&) override {
        ++s.opens;
        return s.isOpen = !s.openFails;
    }
    bool isOpen() const override { return s.isOpen; }
    void close() override { s.isOpen = false; }
    bool readSettings() override { return true; }
    bool applySettings(const SerialLineSettings&) override { return true; }
    bool applyTimeouts(const SerialTimeouts&) override { return true; }
    bool queueCounts(int& in, int& out) override {
        if (!s.chunks.empty() && ++s.polls >= s.pollsPerChunk) {
            s.polls = 0;
            s.arrived += s.chunks.front();
            s.chunks.pop_front();
        }
        in = static_cast<int>(s.arrived.size());
        out = s.outputQueued;
        return true;
    }
    int write(const void* data, int count) override {
        s.sent.append(static_cast<const char*>(data), static_cast<size_t>(count));
        return count;
    }
    int read(void* buffer, int count) override {
        while (s.arrived.size() < static_cast<size_t>(count) && !s.chunks.empty()) {
            s.arrived += s.chunks.front();
            s.chunks.pop_front();
        }
        const size_t n = std::min(s.arrived.size(), static_cast<size_t>(count));
        s.arrived.copy(static_cast<char*>(buffer), n);
        s.arrived.erase(0, n);
        s.bytesRead += n;
        return static_cast<int>(n);
    }
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

// Frame bytes: type word, length, payload, trailer.
inline std::string frameBytes(std::uint16_t typeWord, const std::string& payload, const std::string& trailer = std::string(4, '\0')) {
    std::string f;
    f += static_cast<char>(typeWord & 0xFF);
    f += static_cast<char>(typeWord >> 8);
    f += static_cast<char>(payload.size() & 0xFF);
    f += static_cast<char>(payload.size() >> 8);
    return f + payload + trailer;
}
