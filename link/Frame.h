#pragma once
// Frame layout on the wire, both directions (little-endian):
//   type word (bit 15 = flag) | payload length n | payload | 4-byte trailer.
// No start marker, no escaping, no checksum; the trailer is sent as zeros and
// ignored on reception.
#include <cstdint>

namespace frame {

constexpr int kHeaderSize = 4;
constexpr int kTrailerSize = 4;
// A received frame is at most 1024 bytes, so its payload at most 1016.
constexpr int kMaxReceivedPayload = 1016;
constexpr int kReplyBufferSize = 1024;
// A settings text travels with its terminating zero in one frame either way, so
// the controller can take at most this many characters.
constexpr unsigned kMaxSettingsTextLength = kMaxReceivedPayload - 1;
constexpr std::uint16_t kFlagBit = 0x8000;
constexpr std::uint16_t kTypeMask = 0x7FFF;

struct Header {
    std::uint16_t typeWord = 0;
    std::uint16_t length = 0;
};

inline Header decodeHeader(const unsigned char* b) {
    return Header{static_cast<std::uint16_t>(b[0] | (b[1] << 8)),
                  static_cast<std::uint16_t>(b[2] | (b[3] << 8))};
}

inline bool acceptsPayloadLength(unsigned length) { return length <= kMaxReceivedPayload; }

} // namespace frame
