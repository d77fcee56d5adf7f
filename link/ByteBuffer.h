#pragma once
// Little-endian cursor over a caller-owned byte block, used to lay out and read
// payload fields. Callers size the block from the payload size and parsers check
// the payload length first, so the capacity is recorded but not enforced.
#include <cstdint>

namespace sorka::util {

class ByteBuffer {
public:
    ByteBuffer(unsigned char* block, int capacity);
    virtual ~ByteBuffer() = default;

    ByteBuffer& writeInt16(std::uint16_t value);
    ByteBuffer& writeInt32(std::uint32_t value);
    ByteBuffer& writeBytes(const void* data, int count);
    std::uint16_t readInt16();
    std::uint32_t readInt32();
    unsigned char* position() const { return cursor_; }
    unsigned char* start() const { return start_; }
    int capacity() const { return capacity_; }

private:
    unsigned char* start_;
    unsigned char* cursor_;
    int capacity_;
};

} // namespace sorka::util
