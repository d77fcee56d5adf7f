// The exchange and reply wait over a scripted line with a fake clock.
#include "Device.h"
#include "FakeLine.h"
#include "Vcom_port.h"

#include <gtest/gtest.h>

namespace {

struct ExchangeTest : ::testing::Test {
    FakeLineState line;
    FakeClock clock;
    ExchangeTest() { line.clock = &clock; }
    ExchangeTrace trace;
    Device device{std::make_unique<VCOM_Port>("COM5", std::make_unique<FakeLineBackend>(line)), clock, &trace};

    std::uint32_t timed(const std::function<void()>& f) {
        const std::uint32_t start = clock.now;
        f();
        return clock.now - start;
    }
};

std::string le32(std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

} // namespace

TEST_F(ExchangeTest, empty_payload_reply_with_trailer_succeeds) {
    line.script(frameBytes(191, ""));
    EXPECT_EQ(device.CheckDataCrc(0xCA6598D0, 3), result::kOk);
    EXPECT_EQ(line.sent, frameBytes(190, le32(3) + le32(0xCA6598D0)));
    EXPECT_FALSE(line.isOpen) << "the port is closed after every exchange";
}

TEST_F(ExchangeTest, payload_of_1016_is_taken_and_1017_is_not) {
    std::string text(1015, 'a');
    line.script(frameBytes(201, text + '\0'));
    std::string got;
    EXPECT_EQ(device.ReadSettings(got), result::kOk);
    EXPECT_EQ(got.size(), 1015u);

    line.script(frameBytes(201, std::string(1016, 'b') + '\0'));
    got = "unchanged";
    std::uint32_t spent = timed([&] { EXPECT_EQ(device.ReadSettings(got), result::kNoReply); });
    EXPECT_GE(spent, kReplyTimeoutMs);
    EXPECT_LT(spent, kReplyTimeoutMs + 100);
    EXPECT_EQ(got, "unchanged");
    EXPECT_EQ(line.bytesRead, 4u + 1016u + 4u + 4u) << "after the oversized header nothing more is read";
}

TEST_F(ExchangeTest, reply_of_another_known_type_is_refused_and_the_next_frame_not_read) {
    line.script(frameBytes(193, "") + frameBytes(11, le32(5)));
    line.pollsPerChunk = 1;
    std::uint32_t serial = 77;
    EXPECT_EQ(device.GetSerialNumber(serial), result::kBadReply);
    EXPECT_EQ(serial, 77u);
    EXPECT_EQ(line.bytesRead, 8u);
}

TEST_F(ExchangeTest, unknown_or_malformed_reply_is_refused) {
    line.script(frameBytes(77, ""));
    std::uint32_t serial = 1;
    EXPECT_EQ(device.GetSerialNumber(serial), result::kBadReply);
    line.script(frameBytes(11, "abc"));
    EXPECT_EQ(device.GetSerialNumber(serial), result::kBadReply);
    EXPECT_EQ(serial, 1u);
}

TEST_F(ExchangeTest, flag_bit_is_ignored_and_trailer_may_hold_anything) {
    line.script(frameBytes(0x8000 | 11, le32(0xFFFFFFFF), "\xDE\xAD\xBE\xEF"));
    std::uint32_t serial = 0;
    EXPECT_EQ(device.GetSerialNumber(serial), result::kOk);
    EXPECT_EQ(serial, 0xFFFFFFFFu);
}

TEST_F(ExchangeTest, reply_in_pieces_is_assembled) {
    const std::string text = "QV_r2\n001.050\nJan  1 2020";
    std::string payload = std::string{static_cast<char>(text.size()), 0} + text;
    const std::string f = frameBytes(150, payload);
    for (size_t i = 0; i < f.size(); i += 3)
        line.script(f.substr(i, 3));
    line.pollsPerChunk = 50;
    std::string got;
    EXPECT_EQ(device.GetVersionInfo(got), result::kOk);
    EXPECT_EQ(got, text);
}

TEST_F(ExchangeTest, empty_version_text_gives_a_new_empty_text) {
    line.script(frameBytes(150, std::string(2, '\0')));
    std::string got = "old";
    EXPECT_EQ(device.GetVersionInfo(got), result::kOk);
    EXPECT_EQ(got, "");
}

TEST_F(ExchangeTest, time_limits_of_each_operation) {
    struct Case { const char* name; std::function<int()> op; std::uint32_t limit; };
    std::uint32_t serial = 0;
    const Case cases[] = {
        {"serial", [&] { return device.GetSerialNumber(serial); }, 4000},
        {"firmware begin", [&] { return device.BeginFirmwareUpdate(); }, 10000},
        {"sound begin", [&] { return device.BeginSoundUpdate(); }, 20000},
        {"block", [&] { unsigned char b[3] = {1, 2, 3}; return device.WriteDataBlock(b, 8, 3); }, 4000},
    };
    for (const auto& c : cases) {
        int code = 0;
        const std::uint32_t spent = timed([&] { code = c.op(); });
        EXPECT_EQ(code, result::kNoReply) << c.name;
        EXPECT_GE(spent, c.limit) << c.name;
        EXPECT_LT(spent, c.limit + 100) << c.name;
        EXPECT_EQ(device.ReplyTimeout(), kReplyTimeoutMs) << c.name;
    }
}

TEST_F(ExchangeTest, port_that_will_not_open) {
    line.openFails = true;
    std::uint32_t serial = 9;
    EXPECT_EQ(device.GetSerialNumber(serial), result::kPortFailed);
    EXPECT_EQ(device.BeginSoundUpdate(), result::kPortFailed);
    EXPECT_EQ(device.ReplyTimeout(), kReplyTimeoutMs);
    EXPECT_EQ(device.RestartDevice(), result::kPortFailed);
    EXPECT_TRUE(line.sent.empty());
    EXPECT_EQ(serial, 9u);
}

TEST_F(ExchangeTest, stuck_transmitter_gives_up_and_closes) {
    line.outputQueued = 64; // the window never has room
    std::uint32_t serial = 0;
    const std::uint32_t spent = timed([&] { EXPECT_EQ(device.GetSerialNumber(serial), result::kNoReply); });
    EXPECT_GE(spent, kReplyTimeoutMs);
    EXPECT_LT(spent, kReplyTimeoutMs + 100);
    EXPECT_FALSE(line.isOpen);
    EXPECT_TRUE(line.sent.empty());
    EXPECT_EQ(device.BeginFirmwareUpdate(), result::kNoReply);
    EXPECT_FALSE(line.isOpen);
}

TEST_F(ExchangeTest, restart_reads_nothing) {
    line.script(frameBytes(11, le32(1)));
    EXPECT_EQ(device.RestartDevice(), result::kOk);
    EXPECT_EQ(line.sent, frameBytes(15, ""));
    EXPECT_EQ(line.bytesRead, 0u);
    EXPECT_FALSE(line.isOpen);
}

TEST_F(ExchangeTest, requests_on_the_wire) {
    line.pollsPerChunk = 1;
    line.script(frameBytes(201, std::string("\0", 1)));
    EXPECT_EQ(device.WriteSettings("MicLevel=10\n"), result::kOk);
    EXPECT_EQ(line.sent, frameBytes(201, std::string("MicLevel=10\n\0", 13)));
    line.sent.clear();
    line.script(frameBytes(11, le32(1)));
    EXPECT_EQ(device.StartCalibration(-1, 2), result::kOk);
    EXPECT_EQ(line.sent, frameBytes(22, std::string("\xFF\xFF\x02\x00", 4)));
    line.sent.clear();
    line.script(frameBytes(115, std::string(24, '\x5A')));
    unsigned char diag[24] = {};
    EXPECT_EQ(device.ReadDiagnostics(diag), result::kOk);
    EXPECT_EQ(diag[23], 0x5A);
    line.sent.clear();
    line.script(frameBytes(11, le32(42)));
    EXPECT_EQ(device.SetSerialNumber(42), result::kOk);
    EXPECT_EQ(line.sent, frameBytes(13, le32(42)));
}

TEST_F(ExchangeTest, pause_inside_a_payload_loses_nothing) {
    // Header and two payload bytes, a pause longer than a read's time-out, then
    // the rest and a second frame: the value must be the one sent.
    const std::string reply = frameBytes(11, le32(305419896));
    line.scriptAt(1010, reply.substr(0, 6));
    line.scriptAt(2310, reply.substr(6) + frameBytes(11, le32(1)));
    std::uint32_t serial = 0;
    EXPECT_EQ(device.GetSerialNumber(serial), result::kOk);
    EXPECT_EQ(serial, 305419896u);
    EXPECT_EQ(line.bytesRead, reply.size()) << "the second frame is not read";
}

TEST_F(ExchangeTest, trickle_of_single_bytes) {
    const std::string reply = frameBytes(11, le32(0xCAFE));
    for (size_t i = 0; i < reply.size(); ++i)
        line.scriptAt(1010 + static_cast<std::uint32_t>(i) * 300, reply.substr(i, 1));
    std::uint32_t serial = 0;
    EXPECT_EQ(device.GetSerialNumber(serial), result::kOk) << "12 bytes in 3.3 s fit the 4 s limit";
    EXPECT_EQ(serial, 0xCAFEu);

    line.timed.clear();
    for (size_t i = 0; i < reply.size(); ++i) // 12 bytes over 6 s: too slow
        line.scriptAt(clock.now + 10 + static_cast<std::uint32_t>(i) * 500, reply.substr(i, 1));
    serial = 7;
    const std::uint32_t spent = timed([&] { EXPECT_EQ(device.GetSerialNumber(serial), result::kNoReply); });
    EXPECT_GE(spent, kReplyTimeoutMs);
    EXPECT_LT(spent, kReplyTimeoutMs + 100) << "a trickle must not stretch the limit";
    EXPECT_EQ(serial, 7u);
}

TEST_F(ExchangeTest, silent_line_is_waited_on_not_polled) {
    line.scriptAt(clock.now + 60000, frameBytes(11, le32(1))); // far too late
    std::uint32_t serial = 0;
    const std::uint32_t spent = timed([&] { EXPECT_EQ(device.GetSerialNumber(serial), result::kNoReply); });
    EXPECT_GE(spent, kReplyTimeoutMs);
    EXPECT_LT(spent, kReplyTimeoutMs + 100);
    EXPECT_LE(line.waits, 3) << "one sleeping wait, not a pass per millisecond";
}

TEST_F(ExchangeTest, line_that_takes_nothing_ends_the_send_at_once) {
    line.takeLimit = 0;
    line.script(frameBytes(11, le32(1)));
    std::uint32_t serial = 3;
    const std::uint32_t spent = timed([&] { EXPECT_EQ(device.GetSerialNumber(serial), result::kNoReply); });
    EXPECT_LT(spent, kReplyTimeoutMs) << "a short write breaks the frame: no point waiting on";
    EXPECT_FALSE(line.isOpen);
    EXPECT_EQ(line.bytesRead, 0u) << "no reply is waited for after a broken send";
    EXPECT_EQ(serial, 3u);

    line.takeLimit = 100; // takes part of a long frame, then stops
    EXPECT_EQ(device.WriteSettings(std::string(1015, 'x')), result::kNoReply);
    EXPECT_EQ(line.sent.size(), 100u);
    EXPECT_FALSE(line.isOpen);
}

TEST_F(ExchangeTest, slow_line_send_has_the_operations_deadline) {
    line.outputQueued = 63; // one byte of room at a time
    clock.step = 10;        // and every step of the loop costs 10 ms
    const std::uint32_t spent = timed([&] { EXPECT_EQ(device.WriteSettings(std::string(1015, 'x')), result::kNoReply); });
    EXPECT_GE(spent, kReplyTimeoutMs);
    EXPECT_LT(spent, kReplyTimeoutMs + 100);
    EXPECT_LT(line.sent.size(), 1024u);
    EXPECT_FALSE(line.isOpen);
}

TEST_F(ExchangeTest, stale_bytes_before_the_open_are_not_a_reply) {
    line.stale = std::string("\x0B\x00\x04", 3);
    line.pollsPerChunk = 1;
    line.script(frameBytes(194, ""));
    EXPECT_EQ(device.BeginFirmwareUpdate(), result::kOk);
}

TEST_F(ExchangeTest, settings_text_longer_than_a_frame_is_refused_unsent) {
    EXPECT_EQ(device.WriteSettings(std::string(1016, 'x')), result::kTooLong);
    EXPECT_EQ(device.WriteSettings(std::string(65530, 'x')), result::kTooLong);
    EXPECT_EQ(line.opens, 0);
    EXPECT_TRUE(line.sent.empty());

    line.pollsPerChunk = 1;
    line.script(frameBytes(201, std::string(1, '\0')));
    EXPECT_EQ(device.WriteSettings(std::string(1015, 'x')), result::kOk);
    EXPECT_EQ(line.sent.size(), 4u + 1016u + 4u);
    EXPECT_EQ(line.sent.substr(2, 2), std::string("\xF8\x03", 2)) << "1016 payload bytes announced";
    EXPECT_EQ(line.sent[4 + 1015], '\0');
}

TEST(parse_version_info, splits_three_parts) {
    Device d("COM5");
    DeviceInfo info;
    std::memset(&info, 0x55, sizeof info);
    d.ParseVersionInfo(info, "QV_r2\n001.083\nNov 11 2019");
    EXPECT_EQ(fieldText(info.deviceType), "QV_r2");
    EXPECT_EQ(fieldText(info.firmwareVersion), "001.083");
    EXPECT_EQ(fieldText(info.buildDate), "Nov 11 2019");
    const auto* bytes = reinterpret_cast<const unsigned char*>(&info);
    for (size_t i = 5; i < 48; ++i)
        EXPECT_EQ(bytes[i], 0) << i;
    d.ParseVersionInfo(info, "a\r\nb\n");
    EXPECT_EQ(fieldText(info.deviceType), "a\r");
    EXPECT_EQ(fieldText(info.buildDate), "");
}

TEST(parse_version_info, missing_parts_are_empty_and_long_parts_cut) {
    Device d("COM5");
    DeviceInfo info;
    d.ParseVersionInfo(info, "no line feeds at all");
    EXPECT_EQ(fieldText(info.deviceType), "no line feeds at all");
    EXPECT_EQ(fieldText(info.firmwareVersion), "");
    d.ParseVersionInfo(info, "type\nversion");
    EXPECT_EQ(fieldText(info.firmwareVersion), "version");
    EXPECT_EQ(fieldText(info.buildDate), "");
    const std::string longText = std::string(100, 'T') + "\n" + std::string(40, 'V') + "\n" + std::string(80, 'D');
    d.ParseVersionInfo(info, longText.c_str());
    EXPECT_EQ(fieldText(info.deviceType), std::string(47, 'T'));
    EXPECT_EQ(fieldText(info.firmwareVersion), std::string(15, 'V'));
    EXPECT_EQ(fieldText(info.buildDate), std::string(31, 'D'));
    EXPECT_EQ(info.deviceType[47], 0);
    d.ParseVersionInfo(info, "");
    EXPECT_EQ(fieldText(info.deviceType), "");
}

TEST(version_compare, byte_wise_with_prefix_smaller) {
    EXPECT_EQ(compareVersions("001.083", "001.083"), 0);
    EXPECT_GT(compareVersions("001.100", "001.083"), 0);
    EXPECT_LT(compareVersions("000.999", "001.083"), 0);
    EXPECT_LT(compareVersions("001.08", "001.083"), 0);
    EXPECT_GT(compareVersions("\xFF", "1"), 0) << "unsigned bytes";
}

TEST_F(ExchangeTest, each_exchange_is_traced_with_types_sizes_result_and_time_but_no_payload) {
    const std::string version = "QV_r2\n001.050\nNov 11 2019";
    line.script(frameBytes(150, std::string{static_cast<char>(version.size()), 0} + version));
    std::string text;
    ASSERT_EQ(device.GetVersionInfo(text), result::kOk);
    std::uint32_t serial = 0;
    EXPECT_EQ(device.GetSerialNumber(serial), result::kNoReply); // nothing scripted: the limit passes
    const auto entries = trace.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].port, "COM5");
    EXPECT_EQ(entries[0].request, 14);
    EXPECT_EQ(entries[0].reply, 150);
    EXPECT_EQ(entries[0].result, result::kOk);
    EXPECT_EQ(entries[0].bytesOut, 8u) << "header and trailer of a request without payload";
    EXPECT_EQ(entries[0].bytesOut + entries[1].bytesOut, line.sent.size());
    EXPECT_EQ(entries[0].bytesIn, 4u + 2u + version.size() + 4u);
    EXPECT_EQ(entries[1].request, 10);
    EXPECT_EQ(entries[1].reply, -1);
    EXPECT_EQ(entries[1].result, result::kNoReply);
    EXPECT_EQ(entries[1].bytesIn, 0u);
    EXPECT_GE(entries[1].durationMs, kReplyTimeoutMs);
    EXPECT_GT(entries[1].startedMs, 1600000000000) << "wall-clock time";
}
