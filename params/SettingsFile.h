#pragma once
// Settings files: the settings text's lines, each followed by CR LF, in
// Windows-1251. Paths are UTF-8. Failures throw std::runtime_error with a
// message for the user (UTF-8).
#include "FileReplace.h"

#include <cstdint>
#include <string>

// Files larger than this are refused: a settings file holds about a kilobyte.
constexpr std::uintmax_t kMaxSettingsFileSize = 16u * 1024 * 1024;

// Reads the file's lines (ending CR, LF or CR LF) and joins them with CR LF
// after each, the last one too. A leading UTF-8 byte-order mark is skipped.
std::string readSettingsFile(const std::string& path);

// Writes settingsText (lines ending LF) with CR LF after each line. The old file
// is replaced only once the new content is completely on disk: a failed write
// leaves it as it was. A link is saved through to its target and the file keeps
// its mode (OwnerOnly: see FileAccess); a target that is not a regular file is refused.
void writeSettingsFile(const std::string& path, const std::string& settingsText,
                       FileAccess access = FileAccess::AsBefore);

// Splits at CR, LF or CR LF and joins with CR LF after each line.
std::string joinLinesCrLf(const std::string& text);
