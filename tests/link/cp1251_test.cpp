#include "Cp1251.h"

#include <gtest/gtest.h>


TEST(cp1251, every_byte_round_trips) {
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        std::string back;
        ASSERT_TRUE(cp1251::fromUtf8(cp1251::toUtf8(one), back)) << b;
        EXPECT_EQ(back, one) << b;
    }
}

TEST(cp1251, refuses_what_it_cannot_hold) {
    std::string out;
    EXPECT_TRUE(cp1251::fromUtf8("Привет, Ёж №5", out));
    EXPECT_EQ(cp1251::toUtf8(out), "Привет, Ёж №5");
    EXPECT_FALSE(cp1251::fromUtf8("日本", out));
    EXPECT_FALSE(cp1251::fromUtf8("\xC3", out)) << "cut sequence";
    EXPECT_FALSE(cp1251::fromUtf8("\xC0\x80", out)) << "overlong";
    EXPECT_FALSE(cp1251::fromUtf8("\xED\xA0\x80", out)) << "surrogate";
    EXPECT_EQ(cp1251::fromUtf8("a日b"), "a?b");
}
