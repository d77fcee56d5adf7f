// POSIX port setting: a one-line file $XDG_CONFIG_HOME/z58/port (default
// ~/.config/z58/port). A missing or unreadable file reads as empty.
#include "PortSettingStore.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::filesystem::path settingFile() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    if (xdg && *xdg)
        base = xdg;
    else
        base = std::filesystem::path(std::getenv("HOME") ? std::getenv("HOME") : ".") / ".config";
    return base / "z58" / "port";
}

class FileStore final : public PortSettingStore {
public:
    std::string read() override {
        std::ifstream in(settingFile(), std::ios::binary);
        std::string line;
        if (!in || !std::getline(in, line))
            return {};
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }

    std::string location() const override { return settingFile().string(); }

    bool write(const std::string& port) override {
        const auto file = settingFile();
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
        auto temp = file;
        temp += ".tmp";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            if (!(out << port << '\n') || !out.flush())
                return false;
        }
        std::filesystem::rename(temp, file, ec);
        return !ec;
    }
};

} // namespace

PortSettingStore& portSettingStore() {
    static FileStore store;
    return store;
}
