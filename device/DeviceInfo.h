#pragma once
// Type, firmware version and build date as the controller reports them and as the
// firmware image carries them: three zero-terminated fields in a 96-byte record.
#include <cstring>
#include <string>

struct DeviceInfo {
    char deviceType[48];
    char firmwareVersion[16];
    char buildDate[32];
};
static_assert(sizeof(DeviceInfo) == 96, "the record is 96 bytes on the wire and in the image");

// Reads a field up to its first zero, never past its size.
template <size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// The controller's version text, "type\ndevice version\nbuild date", split into
// the record. Each part is cut to its field; missing parts stay empty; nothing
// is read past the text's end. Null gives an empty record.
DeviceInfo parseVersionText(const char* text);

// A device type as people are shown it: the controller's own "QV_r2" is the Z58 (r2).
std::string deviceTypeName(const std::string& type);

// Byte-wise unsigned comparison up to the first difference; a prefix is smaller.
// <0, 0, >0 like strcmp.
int compareVersions(const std::string& a, const std::string& b);
