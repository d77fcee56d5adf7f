#include "crc32.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> makeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kTable = makeTable();

} // namespace

std::uint32_t crc32(const void* data, unsigned length) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t reg = 0;
    for (unsigned i = 0; i < length; ++i)
        reg = kTable[(reg ^ p[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}
