#include "ByteBuffer.h"

#include <cstring>

namespace sorka::util {

ByteBuffer::ByteBuffer(unsigned char* block, int capacity)
    : start_(block), cursor_(block), capacity_(capacity) {}

ByteBuffer& ByteBuffer::writeInt16(std::uint16_t value) {
    cursor_[0] = static_cast<unsigned char>(value & 0xFF);
    cursor_[1] = static_cast<unsigned char>(value >> 8);
    cursor_ += 2;
    return *this;
}

ByteBuffer& ByteBuffer::writeInt32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        cursor_[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
    cursor_ += 4;
    return *this;
}

ByteBuffer& ByteBuffer::writeBytes(const void* data, int count) {
    if (count > 0) {
        std::memcpy(cursor_, data, static_cast<size_t>(count));
        cursor_ += count;
    }
    return *this;
}

std::uint16_t ByteBuffer::readInt16() {
    std::uint16_t v = static_cast<std::uint16_t>(cursor_[0] | (cursor_[1] << 8));
    cursor_ += 2;
    return v;
}

std::uint32_t ByteBuffer::readInt32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(cursor_[i]) << (8 * i);
    cursor_ += 4;
    return v;
}

} // namespace sorka::util
