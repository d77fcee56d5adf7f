#pragma once
// Windows-1251 <-> UTF-8. Texts of the controller, the parameter description and
// settings files stay Windows-1251 bytes; conversion happens only at the edges
// (widgets, terminal). Byte 0x98 has no character in Windows-1251: it maps to
// U+0098 and back, so every byte value survives a round trip.
#include <string>

namespace cp1251 {

std::string toUtf8(const std::string& cp1251Text);
// False when the input is not valid UTF-8 or holds a character that Windows-1251
// cannot represent; out then holds nothing useful.
bool fromUtf8(const std::string& utf8Text, std::string& out);
// Lossy variant for fixed texts known to be representable: unknown characters become '?'.
std::string fromUtf8(const std::string& utf8Text);

} // namespace cp1251
