#include "RecordId.h"

#include "SystemRandom.h"

#include <array>

namespace journal {

namespace {

constexpr std::size_t kUuidBytes = 16;
constexpr std::size_t kUuidTextSize = 36;
constexpr bool isDash(std::size_t at) { return at == 8 || at == 13 || at == 18 || at == 23; }
constexpr char kHex[] = "0123456789abcdef";

} // namespace

std::string newRecordId() {
    std::array<unsigned char, kUuidBytes> b{};
    if (!systemRandom(b.data(), b.size()))
        return {};
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40); // version 4: random
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80); // the RFC 4122 variant
    std::string text;
    text.reserve(kUuidTextSize);
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (isDash(text.size()))
            text += '-';
        text += kHex[b[i] >> 4];
        text += kHex[b[i] & 0x0F];
    }
    return text;
}

bool isRecordId(const std::string& text) {
    if (text.size() != kUuidTextSize)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isDash(i) ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace journal
