#pragma once
// CRC-32 used to have the controller confirm an upload: reflected polynomial
// EDB88320, register starting at 0 and no final inversion (not the zlib variant).
#include <cstdint>

std::uint32_t crc32(const void* data, unsigned length);
