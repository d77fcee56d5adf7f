#pragma once
// The message catalogue exchanged with the controller: 11 empty-payload messages,
// 9 with a payload, and the factory that turns a received frame into one of them.
#include "Message.h"

#include <array>
#include <string>

namespace sorka::kbt::messages {

namespace type {
constexpr std::int16_t Null = 0, ReqIdInfo = 10, IdInfo = 11, ExtendedIdInfo = 12, IdSet = 13,
                       ReqVersion = 14, Restart = 15, StartCalibration = 22, ReqDiagnostic = 114,
                       Diagnostic = 115, Text = 150, CommitUpdate = 190, CommitUpdateAck = 191,
                       DataFragment = 192, DataFragmentAck = 193, BeginUpdateAck = 194,
                       BeginFirmwareUpdate = 195, BeginWaveUpdate = 196, ReqSettings = 200,
                       Settings = 201;
}

// The largest payload a frame's 16-bit length field can announce. Building a
// message whose payload would be longer throws std::length_error; callers that
// take sizes from outside check them first.
constexpr size_t kMaxPayloadSize = 0xFFFF;

template <std::int16_t Id>
class SimpleMessage : public AbstractSimpleMessage {
public:
    SimpleMessage() : AbstractSimpleMessage(Id) {}
};

using NullMessage = SimpleMessage<type::Null>;
using ReqIdInfoMessage = SimpleMessage<type::ReqIdInfo>;
using ReqVersionMessage = SimpleMessage<type::ReqVersion>;
using RestartMessage = SimpleMessage<type::Restart>;
using ReqDiagnosticMessage = SimpleMessage<type::ReqDiagnostic>;
using CommitUpdateAckMessage = SimpleMessage<type::CommitUpdateAck>;
using DataFragmentAckMessage = SimpleMessage<type::DataFragmentAck>;
using BeginUpdateAckMessage = SimpleMessage<type::BeginUpdateAck>;
using BeginFirmwareUpdateMessage = SimpleMessage<type::BeginFirmwareUpdate>;
using BeginWaveUpdateMessage = SimpleMessage<type::BeginWaveUpdate>;
using ReqSettingsMessage = SimpleMessage<type::ReqSettings>;

// IdInfoMessage (11) and IdSetMessage (13): the controller's 32-bit identity number.
template <std::int16_t Id>
class IdMessage : public AbstractMessage {
public:
    explicit IdMessage(std::uint32_t id) : AbstractMessage(Id), id_(id) {}
    std::uint32_t id() const { return id_; }
    std::uint16_t payloadSize() const override { return 4; }
    Block payload() const override;
    static std::unique_ptr<IdMessage> parse(const unsigned char* p, std::uint16_t n);

private:
    std::uint32_t id_;
};
using IdInfoMessage = IdMessage<type::IdInfo>;
using IdSetMessage = IdMessage<type::IdSet>;

class ExtendedIdInfoMessage : public AbstractMessage {
public:
    ExtendedIdInfoMessage(std::uint32_t id, const char* text1, const char* text2, const char* text3);
    std::uint32_t id() const { return id_; }
    const std::string& text(int i) const { return texts_[static_cast<size_t>(i)]; }
    std::uint16_t payloadSize() const override;
    Block payload() const override;
    static std::unique_ptr<ExtendedIdInfoMessage> parse(const unsigned char* p, std::uint16_t n);

private:
    ExtendedIdInfoMessage(std::uint32_t id, std::array<std::string, 3> texts);
    std::uint32_t id_;
    std::array<std::string, 3> texts_;
};

class StartCalibrationMessage : public AbstractMessage {
public:
    StartCalibrationMessage(std::int16_t value1, std::int16_t value2);
    std::int16_t value1() const { return value1_; }
    std::int16_t value2() const { return value2_; }
    std::uint16_t payloadSize() const override { return 4; }
    Block payload() const override;
    static std::unique_ptr<StartCalibrationMessage> parse(const unsigned char* p, std::uint16_t n);

private:
    std::int16_t value1_, value2_;
};

class DiagnosticMessage : public AbstractMessage {
public:
    static constexpr int kBlockSize = 24;
    DiagnosticMessage();
    void copyTo(unsigned char* destination) const;
    std::uint16_t payloadSize() const override { return kBlockSize; }
    Block payload() const override;
    bool send(sorka::io::OutputStream& out) override;
    static std::unique_ptr<DiagnosticMessage> parse(const unsigned char* p, std::uint16_t n);

private:
    StreamedSend sender_;
    std::array<unsigned char, kBlockSize> block_{};
};

class TextMessage : public AbstractMessage {
public:
    explicit TextMessage(const char* text);
    const char* text() const { return text_.c_str(); }
    std::uint16_t payloadSize() const override;
    Block payload() const override;
    static std::unique_ptr<TextMessage> parse(const unsigned char* p, std::uint16_t n);

private:
    std::string text_;
};

class CommitUpdateMessage : public AbstractMessage {
public:
    CommitUpdateMessage() : AbstractMessage(type::CommitUpdate) {}
    void setByteCount(std::uint32_t count) { byteCount_ = count; }
    void setCrc(std::uint32_t crc) { crc_ = crc; }
    std::uint32_t byteCount() const { return byteCount_; }
    std::uint32_t crc() const { return crc_; }
    std::uint16_t payloadSize() const override { return 8; }
    Block payload() const override;
    static std::unique_ptr<CommitUpdateMessage> parse(const unsigned char* p, std::uint16_t n);

private:
    std::uint32_t byteCount_ = 0;
    std::uint32_t crc_ = 0;
};

class DataFragmentMessage : public AbstractMessage {
public:
    static constexpr int kHeaderPart = 10; // type word, length, offset, fragment length
    DataFragmentMessage() : AbstractMessage(type::DataFragment) {}
    void setOffset(std::uint32_t offset) { offset_ = offset; }
    static constexpr std::uint16_t kMaxDataLength = kMaxPayloadSize - 6;
    void setLength(std::uint16_t length);
    // Takes ownership of a block of at least length bytes.
    void setData(Block data) { data_ = std::move(data); }
    std::uint32_t offset() const { return offset_; }
    std::uint16_t length() const { return length_; }
    const unsigned char* data() const { return data_.get(); }
    std::uint16_t payloadSize() const override { return static_cast<std::uint16_t>(length_ + 6); }
    Block payload() const override;
    bool send(sorka::io::OutputStream& out) override;
    static std::unique_ptr<DataFragmentMessage> parse(const unsigned char* p, std::uint16_t n);

private:
    std::uint32_t offset_ = 0;
    std::uint16_t length_ = 0;
    Block data_;
    StreamedSend sender_;
};

class SettingsMessage : public AbstractMessage {
public:
    SettingsMessage() : AbstractMessage(type::Settings) {}
    // Owned copy of a zero-terminated text.
    void setText(const char* text);
    void setText(const char* text, size_t length);
    // Refers to zero-terminated storage the message does not own.
    void setTextRef(const char* text);
    const char* text() const { return text_ ? text_ : ""; }
    std::uint16_t payloadSize() const override;
    Block payload() const override;
    bool send(sorka::io::OutputStream& out) override;

private:
    const char* text_ = nullptr;
    std::unique_ptr<std::string> owned_;
    StreamedSend sender_;
};

// Builds the message a received frame carries: bit 15 of the type word becomes the
// flag; an unknown type or a payload that does not fit its type gives none. The
// payload is only read within its n bytes. A SettingsMessage refers to p when p
// holds a zero byte; keep p alive as long as the message.
std::unique_ptr<Message> createMessage(std::uint16_t typeWord, const unsigned char* p, std::uint16_t n);

} // namespace sorka::kbt::messages
