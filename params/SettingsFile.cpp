#include "SettingsFile.h"

#include "FileReplace.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path toPath(const std::string& utf8) { return fs::u8path(utf8); }

[[noreturn]] void fail(const char* what, const std::string& path, const std::string& reason) {
    throw std::runtime_error(std::string(what) + " \"" + path + "\": " + reason);
}

std::string systemReason(int err) { return std::generic_category().message(err); }

} // namespace

std::string joinLinesCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 2);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        out.append(text, pos, end - pos).append("\r\n");
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
            ++end;
        pos = end + 1;
    }
    return out;
}

std::string readSettingsFile(const std::string& path) {
    const fs::path p = toPath(path);
    std::error_code ec;
    if (fs::is_directory(p, ec))
        fail("Не удалось открыть файл", path, "это папка");
    std::ifstream in(p, std::ios::binary);
    if (!in)
        fail("Не удалось открыть файл", path, systemReason(errno));
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uintmax_t>(in.tellg());
    if (size > kMaxSettingsFileSize)
        fail("Не удалось открыть файл", path, "файл слишком большой для файла настроек");
    in.seekg(0);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size && !in.read(bytes.data(), static_cast<std::streamsize>(size)))
        fail("Не удалось прочитать файл", path, systemReason(errno));
    // A Windows editor may put a UTF-8 byte-order mark in front when it re-saves
    // the file; it would become part of the first key and lose that setting.
    static const char kUtf8Bom[] = "\xEF\xBB\xBF";
    if (bytes.compare(0, 3, kUtf8Bom) == 0)
        bytes.erase(0, 3);
    return joinLinesCrLf(bytes);
}

void writeSettingsFile(const std::string& path, const std::string& settingsText, FileAccess access) {
    std::string content;
    content.reserve(settingsText.size() + settingsText.size() / 8);
    size_t pos = 0;
    while (pos < settingsText.size()) {
        size_t end = settingsText.find('\n', pos);
        if (end == std::string::npos)
            end = settingsText.size();
        content.append(settingsText, pos, end - pos).append("\r\n");
        pos = end + 1;
    }

    replaceFileContent(path, content, access);
}
