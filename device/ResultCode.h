#pragma once
// Result codes of the device operations. 0 never occurs; callers treat every
// negative code as a failure.
namespace result {
constexpr int kOk = 1;
constexpr int kPortFailed = -1;  // the serial port cannot be opened; nothing was sent
constexpr int kNoReply = -2;     // no complete reply within the time limit
constexpr int kBadReply = -3;    // a reply arrived but was unusable or of another type
constexpr int kTooLong = -4;     // the request cannot fit one frame; nothing was sent

// A short explanation for logs and the command line (UTF-8).
const char* describe(int code);
} // namespace result
