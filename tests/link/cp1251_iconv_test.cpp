// The conversion table against the C library's converter (POSIX builds).
#include "Cp1251.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace {
// The system's converter as an independent reference.
std::string iconvToUtf8(unsigned char b) {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "?";
    char in[1] = {static_cast<char>(b)};
    char out[8] = {};
    char* ip = in;
    char* op = out;
    size_t il = 1, ol = sizeof out;
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    return r == static_cast<size_t>(-1) ? std::string("<none>") : std::string(out, sizeof out - ol);
}
} // namespace

TEST(cp1251, agrees_with_system_converter) {
    for (int b = 0; b < 256; ++b) {
        if (b == 0x98)
            continue; // no character in Windows-1251
        EXPECT_EQ(cp1251::toUtf8(std::string(1, static_cast<char>(b))), iconvToUtf8(static_cast<unsigned char>(b))) << b;
    }
    EXPECT_EQ(cp1251::toUtf8("\x98"), "\xC2\x98");
}

