#include "Upload.h"

#include "crc32.h"

#include <cstring>

bool FirmwareImage::load(const unsigned char* resource, size_t size) {
    if (!resource || size < kFirmwareHeaderSize + kFirmwareInfoOffset + sizeof(DeviceInfo))
        return false;
    imageSize = static_cast<std::uint32_t>(size - kFirmwareHeaderSize);
    stream.assign(kFirmwarePrefixSize, 0xFF);
    stream.insert(stream.end(), resource + kFirmwareHeaderSize, resource + size);
    std::memcpy(&info, stream.data() + kFirmwarePrefixSize + kFirmwareInfoOffset, sizeof info);
    imageCrc = crc32(stream.data() + kFirmwarePrefixSize, imageSize);
    return true;
}

bool SoundBank::load(const unsigned char* resource, size_t length) {
    if (!resource || length < kSoundHeaderSize)
        return false;
    stream = resource;
    size = length;
    dataLength = static_cast<std::uint32_t>(resource[0] | resource[1] << 8 | resource[2] << 16 |
                                            static_cast<std::uint32_t>(resource[3]) << 24);
    dataCrc = static_cast<std::uint32_t>(resource[4] | resource[5] << 8 | resource[6] << 16 |
                                         static_cast<std::uint32_t>(resource[7]) << 24);
    return true;
}

UploadStepper::UploadStepper(const unsigned char* stream, size_t size, std::uint32_t commitCrc, std::uint32_t commitLength)
    : stream_(stream), size_(size), crc_(commitCrc), length_(commitLength) {}

std::uint16_t UploadStepper::nextBlockLength() const {
    const size_t left = size_ - position_;
    return static_cast<std::uint16_t>(left < kUploadBlockSize ? left : kUploadBlockSize);
}

int UploadStepper::sendNextBlock(DeviceInterface& device) {
    const std::uint16_t length = nextBlockLength();
    const int code = device.WriteDataBlock(stream_ + position_, static_cast<std::uint32_t>(position_), length);
    if (code >= 0) {
        position_ += length;
        ++blocksSent_;
    }
    return code;
}

int UploadStepper::commit(DeviceInterface& device) const { return device.CheckDataCrc(crc_, length_); }
