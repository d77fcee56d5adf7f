#pragma once
// The last exchanges with the controller, kept in memory for a support report:
// when, which request, which reply (or how it failed), how many bytes each
// way, the result code and how long it took. Never the payload bytes: settings
// carry the owner's PIN and phone numbers. Each runner keeps one for its
// controller (every entry names its port). Written by the exchange thread,
// read by whoever builds the report.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct TraceEntry {
    std::int64_t startedMs = 0;   // wall clock, ms since 1970
    std::string port;
    std::int16_t request = 0;     // message type sent
    std::int16_t reply = -1;      // message type received; -1: no reply frame
    int result = 0;               // the operation's result code
    std::uint32_t bytesOut = 0;
    std::uint32_t bytesIn = 0;
    std::uint32_t durationMs = 0;
};

class ExchangeTrace {
public:
    static constexpr std::size_t kCapacity = 500;

    void add(TraceEntry entry);
    // Oldest first, at most kCapacity.
    std::vector<TraceEntry> entries() const;
    // How many were added in all (older ones than the last kCapacity are gone).
    std::uint64_t total() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<TraceEntry> ring_;
    std::size_t next_ = 0;
    std::uint64_t total_ = 0;
};

// "ReqVersion", "Settings", ... ; the number for a type this program does not know.
std::string messageTypeName(std::int16_t type);
