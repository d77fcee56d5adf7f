#include "Message.h"

#include "ByteBuffer.h"
#include "Frame.h"

#include <cstring>

namespace sorka::kbt::messages {

namespace {
const unsigned char kZeroTrailer[frame::kTrailerSize] = {0, 0, 0, 0};
}

std::uint16_t AbstractMessage::typeWord() const {
    auto word = static_cast<std::uint16_t>(static_cast<std::uint16_t>(type_) & frame::kTypeMask);
    return flag_ ? static_cast<std::uint16_t>(word | frame::kFlagBit) : word;
}

std::uint16_t AbstractMessage::frameSize() const {
    return static_cast<std::uint16_t>(payloadSize() + frame::kHeaderSize);
}

Block AbstractMessage::serialize() const {
    const std::uint16_t n = payloadSize();
    Block block(new unsigned char[n + frame::kHeaderSize]);
    util::ByteBuffer buf(block.get(), n + frame::kHeaderSize);
    buf.writeInt16(typeWord()).writeInt16(n);
    if (n != 0) {
        Block body = payload();
        buf.writeBytes(body.get(), n);
    }
    return block;
}

bool AbstractMessage::send(sorka::io::OutputStream& out) {
    const int n = payloadSize();
    if (out.room() < n + frame::kHeaderSize + frame::kTrailerSize)
        return false;
    Block block = serialize();
    out.write(block.get(), n + frame::kHeaderSize);
    out.write(kZeroTrailer, frame::kTrailerSize);
    return true;
}

bool StreamedSend::step(sorka::io::OutputStream& out, const unsigned char* header, int headerSize,
                        const unsigned char* body, int bodySize) {
    if (state_ == kHeader) {
        if (out.room() < headerSize)
            return false;
        out.write(header, headerSize);
        cursor_ = body;
        left_ = bodySize;
        state_ = kBody;
    }
    if (state_ == kBody) {
        if (left_ == 0) {
            state_ = kTrailer;
        } else {
            const int r = out.room();
            if (r >= left_) {
                out.write(cursor_, left_);
                cursor_ += left_;
                left_ = 0;
                state_ = kTrailer;
            } else {
                if (r > 0) {
                    out.write(cursor_, r);
                    cursor_ += r;
                    left_ -= r;
                }
                return false;
            }
        }
    }
    if (out.room() < frame::kTrailerSize)
        return false;
    out.write(kZeroTrailer, frame::kTrailerSize);
    state_ = kHeader;
    return true;
}

} // namespace sorka::kbt::messages
