#pragma once
// Base of the message catalogue: the Message interface, AbstractMessage (type id
// and flag, framing) and AbstractSimpleMessage (no payload). The order of the
// virtual operations is part of the design; keep it.
#include "Streams.h"

#include <cstdint>
#include <memory>

namespace sorka::kbt::messages {

using Block = std::unique_ptr<unsigned char[]>;

class Message {
public:
    virtual ~Message() = default;
    virtual std::int16_t type() const = 0;
    virtual bool flag() const = 0;
    virtual void setFlag(bool flag) = 0;
    virtual std::uint16_t payloadSize() const = 0;
    virtual std::uint16_t frameSize() const = 0;
    // The payload's wire bytes (payloadSize of them); none for an empty payload.
    virtual Block payload() const = 0;
    // Type word, payload length and payload: frameSize bytes.
    virtual Block serialize() const = 0;
    // Hands the frame to the transmitter; true once all of it, trailer included,
    // was handed over. Call again while it returns false.
    virtual bool send(sorka::io::OutputStream& out) = 0;
};

class AbstractMessage : public Message {
public:
    std::int16_t type() const override { return type_; }
    bool flag() const override { return flag_; }
    void setFlag(bool flag) override { flag_ = flag; }
    std::uint16_t frameSize() const override;
    Block serialize() const override;
    // One-piece sending: the whole frame in one go once the window has room for it.
    bool send(sorka::io::OutputStream& out) override;

protected:
    explicit AbstractMessage(std::int16_t type) : type_(type) {}
    std::uint16_t typeWord() const;

private:
    std::int16_t type_;
    bool flag_ = false;
};

class AbstractSimpleMessage : public AbstractMessage {
public:
    std::uint16_t payloadSize() const override { return 0; }
    Block payload() const override { return nullptr; }

protected:
    using AbstractMessage::AbstractMessage;
};

// Send state of the three streamed classes: header, then the body in pieces no
// larger than the room the window reports, then the trailer.
class StreamedSend {
public:
    // header: the first H frame bytes (type word, length, fixed leading fields).
    bool step(sorka::io::OutputStream& out, const unsigned char* header, int headerSize,
              const unsigned char* body, int bodySize);
    void reset() { state_ = kHeader; }
    int state() const { return state_; }

private:
    enum : int { kHeader = 0, kBody = 1, kTrailer = 2 };
    int state_ = kHeader;
    const unsigned char* cursor_ = nullptr;
    int left_ = 0;
};

} // namespace sorka::kbt::messages
