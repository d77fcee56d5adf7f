#include "Embedded.h"
#include "ScriptedDevice.h"
#include "Upload.h"
#include "crc32.h"

#include <gtest/gtest.h>
#include <map>

using RecordingDevice = ScriptedDevice;

TEST(embedded_data, firmware_and_sound_layout) {
    const EmbeddedResource blow = embeddedResource("blow");
    ASSERT_EQ(blow.size, 104386u);
    FirmwareImage fw;
    ASSERT_TRUE(fw.load(blow.data, blow.size));
    EXPECT_EQ(fw.imageSize, 104130u);
    EXPECT_EQ(fieldText(fw.info.deviceType), "QV_r2");
    EXPECT_EQ(fieldText(fw.info.firmwareVersion), "001.083");
    EXPECT_EQ(fieldText(fw.info.buildDate), "Nov 11 2019");
    EXPECT_EQ(fw.imageCrc, crc32(blow.data + 256, 104130));

    const EmbeddedResource wave = embeddedResource("wave_list");
    ASSERT_EQ(wave.size, 609383u);
    SoundBank bank;
    ASSERT_TRUE(bank.load(wave.data, wave.size));
    EXPECT_EQ(bank.dataLength, 609375u);
    EXPECT_EQ(bank.dataCrc, crc32(wave.data + 8, 609375));
    EXPECT_FALSE(embeddedResource("nothing"));
    EXPECT_FALSE(fw.load(blow.data, 1000)) << "too short for the information block";
}

TEST(upload_stepper, firmware_stream_blocks) {
    const EmbeddedResource blow = embeddedResource("blow");
    FirmwareImage fw;
    ASSERT_TRUE(fw.load(blow.data, blow.size));
    UploadStepper up(fw.stream.data(), fw.stream.size(), fw.imageCrc, fw.imageSize);
    EXPECT_EQ(up.blockCount(), 102u);
    RecordingDevice dev;
    while (!up.allSent())
        ASSERT_EQ(up.sendNextBlock(dev), 1);
    ASSERT_EQ(dev.blocks.size(), 102u);
    for (size_t i = 0; i < 101; ++i) {
        EXPECT_EQ(dev.blocks[i].first, i * 1024);
        EXPECT_EQ(dev.blocks[i].second.size(), 1024u);
    }
    EXPECT_EQ(dev.blocks.back().first, 103424u);
    EXPECT_EQ(dev.blocks.back().second.size(), 714u);
    const auto& first = dev.blocks.front().second;
    EXPECT_EQ(std::vector<unsigned char>(first.begin(), first.begin() + 8), std::vector<unsigned char>(8, 0xFF));
    EXPECT_TRUE(std::equal(first.begin() + 8, first.end(), blow.data + 256));
    EXPECT_EQ(up.commit(dev), 1);
    EXPECT_EQ(dev.committedCount, 104130u);
    EXPECT_EQ(dev.committedCrc, fw.imageCrc);
}

TEST(upload_stepper, sound_stream_blocks) {
    const EmbeddedResource wave = embeddedResource("wave_list");
    SoundBank bank;
    ASSERT_TRUE(bank.load(wave.data, wave.size));
    UploadStepper up(bank.stream, bank.size, bank.dataCrc, bank.dataLength);
    RecordingDevice dev;
    while (!up.allSent())
        ASSERT_EQ(up.sendNextBlock(dev), 1);
    ASSERT_EQ(dev.blocks.size(), 596u);
    EXPECT_TRUE(std::equal(dev.blocks[0].second.begin(), dev.blocks[0].second.begin() + 8, wave.data));
    EXPECT_EQ(dev.blocks.back().first, 609280u);
    EXPECT_EQ(dev.blocks.back().second.size(), 103u);
    up.commit(dev);
    EXPECT_EQ(dev.committedCount, 609375u);
    EXPECT_EQ(dev.committedCrc, bank.dataCrc);
}

TEST(upload_stepper, failed_block_does_not_advance) {
    std::vector<unsigned char> data(3000, 7);
    UploadStepper up(data.data(), data.size(), 0, 0);
    RecordingDevice dev;
    dev.failBlockAt = 2;
    EXPECT_EQ(up.sendNextBlock(dev), 1);
    EXPECT_EQ(up.sendNextBlock(dev), -2);
    EXPECT_EQ(up.position(), 1024u);
    EXPECT_EQ(up.blocksSent(), 1u);
    EXPECT_EQ(up.nextBlockLength(), 1024u);

    std::vector<unsigned char> exact(2048, 1);
    UploadStepper whole(exact.data(), exact.size(), 0, 0);
    EXPECT_EQ(whole.blockCount(), 2u);
}
