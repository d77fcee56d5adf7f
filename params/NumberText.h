#pragma once
// Text to number conversions shared by the description loader and the value check.
#include <optional>
#include <string_view>

// Signed 32-bit integer: leading blanks, optional sign, then decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X". Nothing may follow.
std::optional<int> textToInt32(std::string_view text);
// A decimal number ("-100", "2.5"; '.' or ',' as separator) as a 32-bit float.
std::optional<float> textToFloat(std::string_view text);
