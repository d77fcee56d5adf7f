#include "Messages.h"

#include "ByteBuffer.h"
#include "Frame.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace sorka::kbt::messages {

using util::ByteBuffer;

namespace {

Block newBlock(size_t n) { return Block(new unsigned char[n > 0 ? n : 1]); }

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// Every payload length travels in a 16-bit field: a message that would not fit
// is refused when it is built, never cut on the wire.
void requireFits(size_t payloadBytes, const char* what) {
    if (payloadBytes > kMaxPayloadSize)
        throw std::length_error(std::string(what) + ": payload of " + std::to_string(payloadBytes) +
                                " bytes does not fit a frame (at most " + std::to_string(kMaxPayloadSize) + ")");
}

} // namespace

// ---- IdInfoMessage / IdSetMessage

template <std::int16_t Id>
Block IdMessage<Id>::payload() const {
    Block b = newBlock(4);
    ByteBuffer(b.get(), 4).writeInt32(id_);
    return b;
}

template <std::int16_t Id>
std::unique_ptr<IdMessage<Id>> IdMessage<Id>::parse(const unsigned char* p, std::uint16_t n) {
    if (!p || n != 4)
        return nullptr;
    ByteBuffer buf(const_cast<unsigned char*>(p), n);
    return std::make_unique<IdMessage<Id>>(buf.readInt32());
}

template class IdMessage<type::IdInfo>;
template class IdMessage<type::IdSet>;

// ---- ExtendedIdInfoMessage

ExtendedIdInfoMessage::ExtendedIdInfoMessage(std::uint32_t id, const char* t1, const char* t2, const char* t3)
    : ExtendedIdInfoMessage(id, {std::string(t1 ? t1 : ""), std::string(t2 ? t2 : ""), std::string(t3 ? t3 : "")}) {}

ExtendedIdInfoMessage::ExtendedIdInfoMessage(std::uint32_t id, std::array<std::string, 3> texts)
    : AbstractMessage(type::ExtendedIdInfo), id_(id), texts_(std::move(texts)) {
    requireFits(10 + texts_[0].size() + texts_[1].size() + texts_[2].size(), "ExtendedIdInfoMessage");
}

std::uint16_t ExtendedIdInfoMessage::payloadSize() const {
    return static_cast<std::uint16_t>(10 + texts_[0].size() + texts_[1].size() + texts_[2].size());
}

Block ExtendedIdInfoMessage::payload() const {
    const std::uint16_t n = payloadSize();
    Block b = newBlock(n);
    ByteBuffer buf(b.get(), n);
    buf.writeInt32(id_);
    for (const auto& t : texts_)
        buf.writeInt16(static_cast<std::uint16_t>(t.size())).writeBytes(t.data(), static_cast<int>(t.size()));
    return b;
}

std::unique_ptr<ExtendedIdInfoMessage> ExtendedIdInfoMessage::parse(const unsigned char* p, std::uint16_t n) {
    if (!p || n < 4)
        return nullptr;
    size_t pos = 4;
    std::array<std::string, 3> texts;
    for (auto& t : texts) {
        if (pos + 2 > n)
            return nullptr;
        const size_t len = le16(p + pos);
        pos += 2;
        if (len > n - pos)
            return nullptr;
        t.assign(reinterpret_cast<const char*>(p + pos), len);
        pos += len;
    }
    ByteBuffer buf(const_cast<unsigned char*>(p), n);
    return std::unique_ptr<ExtendedIdInfoMessage>(new ExtendedIdInfoMessage(buf.readInt32(), std::move(texts)));
}

// ---- StartCalibrationMessage

StartCalibrationMessage::StartCalibrationMessage(std::int16_t v1, std::int16_t v2)
    : AbstractMessage(type::StartCalibration), value1_(v1), value2_(v2) {}

Block StartCalibrationMessage::payload() const {
    Block b = newBlock(4);
    ByteBuffer(b.get(), 4)
        .writeInt16(static_cast<std::uint16_t>(value1_))
        .writeInt16(static_cast<std::uint16_t>(value2_));
    return b;
}

std::unique_ptr<StartCalibrationMessage> StartCalibrationMessage::parse(const unsigned char* p, std::uint16_t n) {
    if (!p || n != 4)
        return nullptr;
    ByteBuffer buf(const_cast<unsigned char*>(p), n);
    const auto v1 = static_cast<std::int16_t>(buf.readInt16());
    const auto v2 = static_cast<std::int16_t>(buf.readInt16());
    return std::make_unique<StartCalibrationMessage>(v1, v2);
}

// ---- DiagnosticMessage

DiagnosticMessage::DiagnosticMessage() : AbstractMessage(type::Diagnostic) {}

void DiagnosticMessage::copyTo(unsigned char* destination) const {
    std::memcpy(destination, block_.data(), block_.size());
}

Block DiagnosticMessage::payload() const {
    Block b = newBlock(kBlockSize);
    std::memcpy(b.get(), block_.data(), kBlockSize);
    return b;
}

bool DiagnosticMessage::send(sorka::io::OutputStream& out) {
    unsigned char header[frame::kHeaderSize];
    ByteBuffer(header, sizeof header).writeInt16(typeWord()).writeInt16(kBlockSize);
    return sender_.step(out, header, frame::kHeaderSize, block_.data(), kBlockSize);
}

std::unique_ptr<DiagnosticMessage> DiagnosticMessage::parse(const unsigned char* p, std::uint16_t n) {
    if (!p || n != kBlockSize)
        return nullptr;
    auto m = std::make_unique<DiagnosticMessage>();
    std::memcpy(m->block_.data(), p, kBlockSize);
    return m;
}

// ---- TextMessage

TextMessage::TextMessage(const char* text) : AbstractMessage(type::Text), text_(text ? text : "") {
    requireFits(text_.size() + 2, "TextMessage");
}

std::uint16_t TextMessage::payloadSize() const { return static_cast<std::uint16_t>(text_.size() + 2); }

Block TextMessage::payload() const {
    const std::uint16_t n = payloadSize();
    Block b = newBlock(n);
    ByteBuffer(b.get(), n)
        .writeInt16(static_cast<std::uint16_t>(text_.size()))
        .writeBytes(text_.data(), static_cast<int>(text_.size()));
    return b;
}

std::unique_ptr<TextMessage> TextMessage::parse(const unsigned char* p, std::uint16_t n) {
    if (!p || n < 2 || le16(p) + 2u != n)
        return nullptr;
    const size_t t = le16(p);
    const char* s = reinterpret_cast<const char*>(p + 2);
    // The text ends early at a zero byte among its t bytes.
    const void* zero = std::memchr(s, 0, t);
    const size_t len = zero ? static_cast<size_t>(static_cast<const char*>(zero) - s) : t;
    return std::make_unique<TextMessage>(std::string(s, len).c_str());
}

// ---- CommitUpdateMessage

Block CommitUpdateMessage::payload() const {
    Block b = newBlock(8);
    ByteBuffer(b.get(), 8).writeInt32(byteCount_).writeInt32(crc_);
    return b;
}

std::unique_ptr<CommitUpdateMessage> CommitUpdateMessage::parse(const unsigned char* p, std::uint16_t n) {
    if (!p || n != 8)
        return nullptr;
    ByteBuffer buf(const_cast<unsigned char*>(p), n);
    auto m = std::make_unique<CommitUpdateMessage>();
    m->setByteCount(buf.readInt32());
    m->setCrc(buf.readInt32());
    return m;
}

// ---- DataFragmentMessage

void DataFragmentMessage::setLength(std::uint16_t length) {
    requireFits(length + 6u, "DataFragmentMessage");
    length_ = length;
}

Block DataFragmentMessage::payload() const {
    const std::uint16_t n = payloadSize();
    Block b = newBlock(n);
    ByteBuffer buf(b.get(), n);
    buf.writeInt32(offset_).writeInt16(length_);
    if (data_)
        buf.writeBytes(data_.get(), length_);
    else
        std::memset(buf.position(), 0, length_); // never send uninitialised memory
    return b;
}

bool DataFragmentMessage::send(sorka::io::OutputStream& out) {
    unsigned char header[kHeaderPart];
    ByteBuffer(header, kHeaderPart).writeInt16(typeWord()).writeInt16(payloadSize()).writeInt32(offset_).writeInt16(length_);
    if (!data_ && length_ != 0)
        data_ = Block(new unsigned char[length_]()); // zeros rather than reading nothing
    return sender_.step(out, header, kHeaderPart, data_.get(), length_);
}

std::unique_ptr<DataFragmentMessage> DataFragmentMessage::parse(const unsigned char* p, std::uint16_t n) {
    if (!p || n < 6)
        return nullptr;
    const std::uint16_t length = le16(p + 4);
    if (length + 6u != n)
        return nullptr;
    ByteBuffer buf(const_cast<unsigned char*>(p), n);
    auto m = std::make_unique<DataFragmentMessage>();
    m->setOffset(buf.readInt32());
    m->setLength(buf.readInt16());
    if (length != 0) {
        Block data = newBlock(length);
        std::memcpy(data.get(), p + 6, length);
        m->setData(std::move(data));
    }
    return m;
}

// ---- SettingsMessage

void SettingsMessage::setText(const char* text) { setText(text ? text : "", text ? std::strlen(text) : 0); }

void SettingsMessage::setText(const char* text, size_t length) {
    requireFits(std::strlen(std::string(text, length).c_str()) + 1, "SettingsMessage");
    owned_ = std::make_unique<std::string>(text, length);
    text_ = owned_->c_str();
    sender_.reset();
}

void SettingsMessage::setTextRef(const char* text) {
    requireFits((text ? std::strlen(text) : 0) + 1, "SettingsMessage");
    owned_.reset();
    text_ = text;
    sender_.reset();
}

std::uint16_t SettingsMessage::payloadSize() const {
    return static_cast<std::uint16_t>(std::strlen(text()) + 1);
}

Block SettingsMessage::payload() const {
    const std::uint16_t n = payloadSize();
    Block b = newBlock(n);
    std::memcpy(b.get(), text(), n); // the text and its terminating zero
    return b;
}

bool SettingsMessage::send(sorka::io::OutputStream& out) {
    unsigned char header[frame::kHeaderSize];
    const std::uint16_t n = payloadSize();
    ByteBuffer(header, sizeof header).writeInt16(typeWord()).writeInt16(n);
    return sender_.step(out, header, frame::kHeaderSize, reinterpret_cast<const unsigned char*>(text()), n);
}

// ---- factory

std::unique_ptr<Message> createMessage(std::uint16_t typeWord, const unsigned char* p, std::uint16_t n) {
    const bool flag = (typeWord & frame::kFlagBit) != 0;
    const auto id = static_cast<std::int16_t>(typeWord & frame::kTypeMask);
    std::unique_ptr<Message> m;
    switch (id) {
    case type::Null: m = std::make_unique<NullMessage>(); break;
    case type::ReqIdInfo: m = std::make_unique<ReqIdInfoMessage>(); break;
    case type::ReqVersion: m = std::make_unique<ReqVersionMessage>(); break;
    case type::Restart: m = std::make_unique<RestartMessage>(); break;
    case type::ReqDiagnostic: m = std::make_unique<ReqDiagnosticMessage>(); break;
    case type::CommitUpdateAck: m = std::make_unique<CommitUpdateAckMessage>(); break;
    case type::DataFragmentAck: m = std::make_unique<DataFragmentAckMessage>(); break;
    case type::BeginUpdateAck: m = std::make_unique<BeginUpdateAckMessage>(); break;
    case type::BeginFirmwareUpdate: m = std::make_unique<BeginFirmwareUpdateMessage>(); break;
    case type::BeginWaveUpdate: m = std::make_unique<BeginWaveUpdateMessage>(); break;
    case type::ReqSettings: m = std::make_unique<ReqSettingsMessage>(); break;
    case type::IdInfo: m = IdInfoMessage::parse(p, n); break;
    case type::ExtendedIdInfo: m = ExtendedIdInfoMessage::parse(p, n); break;
    case type::IdSet: m = IdSetMessage::parse(p, n); break;
    case type::StartCalibration: m = StartCalibrationMessage::parse(p, n); break;
    case type::Diagnostic: m = DiagnosticMessage::parse(p, n); break;
    case type::Text: m = TextMessage::parse(p, n); break;
    case type::CommitUpdate: m = CommitUpdateMessage::parse(p, n); break;
    case type::DataFragment: m = DataFragmentMessage::parse(p, n); break;
    case type::Settings: {
        auto s = std::make_unique<SettingsMessage>();
        const char* text = reinterpret_cast<const char*>(p);
        // Refer to the payload when it holds its zero; a payload without one is
        // copied, so the text never runs past the n bytes.
        if (p && n > 0 && std::memchr(p, 0, n))
            s->setTextRef(text);
        else
            s->setText(p ? text : "", p ? n : 0);
        m = std::move(s);
        break;
    }
    default: break;
    }
    if (m)
        m->setFlag(flag);
    return m;
}

} // namespace sorka::kbt::messages
