#pragma once
// The two uploads' core, shared by the desktop program (one block per timer tick)
// and the command line (a loop): the data streams, block iteration and commit.
#include "DeviceInfo.h"
#include "DeviceInterface.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint16_t kUploadBlockSize = 1024;
constexpr size_t kFirmwareHeaderSize = 256;    // resource header, not sent
constexpr size_t kFirmwarePrefixSize = 8;      // 0xFF bytes sent before the image
constexpr size_t kFirmwareInfoOffset = 1024;   // information block inside the image
constexpr size_t kSoundHeaderSize = 8;         // data length and CRC, sent as they are

// The firmware as uploaded: eight 0xFF bytes, then the image; the CRC and length
// named at the end cover the image only.
struct FirmwareImage {
    std::vector<unsigned char> stream;
    std::uint32_t imageSize = 0;
    std::uint32_t imageCrc = 0;
    DeviceInfo info{};
    // Builds it from the "blow" resource bytes; false when they are too short.
    bool load(const unsigned char* resource, size_t size);
};

// The sound bank as uploaded: the resource byte for byte, header included; the
// commit names the header's length and CRC.
struct SoundBank {
    const unsigned char* stream = nullptr;
    size_t size = 0;
    std::uint32_t dataLength = 0;
    std::uint32_t dataCrc = 0;
    bool load(const unsigned char* resource, size_t size);
};

// Sends a stream in blocks of at most 1024 bytes at their stream offsets, one
// block per step, then commits. A failed block ends the job; nothing is retried.
class UploadStepper {
public:
    UploadStepper(const unsigned char* stream, size_t size, std::uint32_t commitCrc, std::uint32_t commitLength);

    bool allSent() const { return position_ >= size_; }
    size_t position() const { return position_; }
    size_t size() const { return size_; }
    size_t blocksSent() const { return blocksSent_; }
    size_t blockCount() const { return (size_ + kUploadBlockSize - 1) / kUploadBlockSize; }
    // The length of the block the next step sends (0 when all was sent).
    std::uint16_t nextBlockLength() const;

    // WriteDataBlock of the next block; the position advances only on success.
    int sendNextBlock(DeviceInterface& device);
    // CheckDataCrc with the stream's CRC and length: success means the controller confirmed.
    int commit(DeviceInterface& device) const;

private:
    const unsigned char* stream_;
    size_t size_;
    size_t position_ = 0;
    size_t blocksSent_ = 0;
    std::uint32_t crc_;
    std::uint32_t length_;
};
