#include "crc32.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {
// Bit-by-bit formulation, independent of the table.
std::uint32_t slowCrc(const std::vector<unsigned char>& data) {
    std::uint32_t reg = 0;
    for (unsigned char b : data) {
        reg ^= b;
        for (int i = 0; i < 8; ++i)
            reg = (reg >> 1) ^ ((reg & 1) ? 0xEDB88320u : 0u);
    }
    return reg;
}
} // namespace

TEST(crc32, known_values) {
    EXPECT_EQ(crc32("", 0), 0u);
    EXPECT_EQ(crc32("abc", 3), 0xCA6598D0u);
    EXPECT_EQ(crc32("123456789", 9), 0x2DFD2D88u);
}

TEST(crc32, agrees_with_bitwise_formulation_on_random_data) {
    std::mt19937 rng(42);
    for (int round = 0; round < 200; ++round) {
        std::vector<unsigned char> data(rng() % 3000);
        for (auto& b : data)
            b = static_cast<unsigned char>(rng());
        ASSERT_EQ(crc32(data.data(), static_cast<unsigned>(data.size())), slowCrc(data)) << "size " << data.size();
    }
}
