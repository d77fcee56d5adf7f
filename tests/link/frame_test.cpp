#include "ByteBuffer.h"
#include "FakeStreams.h"
#include "Messages.h"

#include <gtest/gtest.h>

using namespace sorka::kbt::messages;

namespace {
std::vector<unsigned char> sendAll(Message& m, FakeOutputStream& out, int maxCalls = 100000) {
    for (int i = 0; i < maxCalls; ++i)
        if (m.send(out))
            return out.bytes;
    ADD_FAILURE() << "send never completed";
    return out.bytes;
}

// A message with an arbitrary payload size, sent one-piece.
struct BlobMessage : AbstractMessage {
    explicit BlobMessage(int n) : AbstractMessage(77), n_(n) {}
    std::uint16_t payloadSize() const override { return static_cast<std::uint16_t>(n_); }
    Block payload() const override { return Block(new unsigned char[n_]()); }
    int n_;
};
} // namespace

TEST(frame_writer, empty_payload_is_exactly_eight_bytes) {
    FakeOutputStream out;
    ReqVersionMessage m;
    EXPECT_TRUE(m.send(out));
    EXPECT_EQ(out.bytes, (std::vector<unsigned char>{14, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(frame_writer, one_piece_limit_is_56_payload_bytes) {
    FakeOutputStream out;
    BlobMessage fits(56);
    EXPECT_TRUE(fits.send(out));
    EXPECT_EQ(out.bytes.size(), 64u);

    FakeOutputStream out2;
    BlobMessage tooBig(57);
    for (int i = 0; i < 100; ++i)
        EXPECT_FALSE(tooBig.send(out2));
    EXPECT_TRUE(out2.bytes.empty());
}

TEST(frame_writer, one_piece_waits_for_room) {
    FakeOutputStream out;
    int room = 10;
    out.roomFn = [&] { return room; };
    IdSetMessage m(7);
    EXPECT_FALSE(m.send(out));
    EXPECT_TRUE(out.bytes.empty());
    room = 12;
    EXPECT_TRUE(m.send(out));
    EXPECT_EQ(out.bytes.size(), 12u);
}

TEST(frame_writer, streamed_fragment_never_exceeds_reported_room) {
    std::vector<unsigned char> data(1024);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7);
    DataFragmentMessage m;
    m.setOffset(0x01020304);
    m.setLength(1024);
    Block block(new unsigned char[1024]);
    std::copy(data.begin(), data.end(), block.get());
    m.setData(std::move(block));

    FakeOutputStream out;
    int call = 0;
    // A window that drains unevenly, sometimes not at all.
    out.roomFn = [&] { return (call * 13) % 65; };
    bool done = false;
    int calls = 0;
    while (!done) {
        ++call;
        done = m.send(out);
        ++calls;
        ASSERT_LT(calls, 10000);
    }
    EXPECT_GT(calls, 10);
    for (size_t i = 0; i < out.writeSizes.size(); ++i)
        EXPECT_LE(out.writeSizes[i], out.roomBeforeWrite[i]) << "write " << i;
    ASSERT_EQ(out.bytes.size(), 4u + 1030u + 4u);
    EXPECT_EQ(out.bytes[0], 192);
    EXPECT_EQ(out.bytes[1], 0);
    EXPECT_EQ(out.bytes[2], 1030 & 0xFF);
    EXPECT_EQ(out.bytes[3], 1030 >> 8);
    EXPECT_EQ(out.bytes[4], 0x04);
    EXPECT_EQ(out.bytes[7], 0x01);
    EXPECT_EQ(out.bytes[8], 0x00);
    EXPECT_EQ(out.bytes[9], 0x04);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.bytes.begin() + 10));
    EXPECT_EQ(std::vector<unsigned char>(out.bytes.end() - 4, out.bytes.end()), std::vector<unsigned char>(4, 0));

    // The same message goes out again, identically, from a fresh state.
    FakeOutputStream again;
    EXPECT_EQ(sendAll(m, again), out.bytes);
}

TEST(frame_writer, every_call_before_the_last_returns_false) {
    SettingsMessage m;
    std::string text(300, 'x');
    m.setText(text.c_str());
    FakeOutputStream out;
    out.roomFn = [] { return 16; };
    int trues = 0, calls = 0;
    while (trues == 0 && calls < 1000) {
        trues += m.send(out) ? 1 : 0;
        ++calls;
    }
    EXPECT_EQ(trues, 1);
    EXPECT_EQ(out.bytes.size(), 4u + 301u + 4u);
    EXPECT_EQ(out.bytes[4 + 300], 0);
}

TEST(frame_writer, flag_sets_bit_15_on_the_wire) {
    FakeOutputStream out;
    BeginUpdateAckMessage m;
    m.setFlag(true);
    ASSERT_TRUE(m.send(out));
    EXPECT_EQ(out.bytes[0], 0xC2);
    EXPECT_EQ(out.bytes[1], 0x80);

    FakeOutputStream streamed;
    SettingsMessage s;
    s.setText("");
    s.setFlag(true);
    sendAll(s, streamed);
    EXPECT_EQ(streamed.bytes, (std::vector<unsigned char>{0xC9, 0x80, 1, 0, 0, 0, 0, 0, 0}));
}

TEST(frame_writer, serialize_commit_update) {
    CommitUpdateMessage m;
    m.setByteCount(1);
    m.setCrc(2);
    Block b = m.serialize();
    EXPECT_EQ(std::vector<unsigned char>(b.get(), b.get() + m.frameSize()),
              (std::vector<unsigned char>{0xBE, 0x00, 0x08, 0x00, 0x01, 0, 0, 0, 0x02, 0, 0, 0}));
}

TEST(byte_buffer, little_endian_round_trip) {
    unsigned char block[10];
    sorka::util::ByteBuffer w(block, 10);
    w.writeInt16(0xBEEF).writeInt32(0x01020304).writeBytes("ab", 2);
    EXPECT_EQ(block[0], 0xEF);
    EXPECT_EQ(block[2], 0x04);
    EXPECT_EQ(w.position(), block + 8);
    sorka::util::ByteBuffer r(block, 10);
    EXPECT_EQ(r.readInt16(), 0xBEEF);
    EXPECT_EQ(r.readInt32(), 0x01020304u);
}
