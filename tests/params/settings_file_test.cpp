#include "SettingsFile.h"
#include "TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}
std::string get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
} // namespace

TEST(settings_file, reads_any_line_end_and_joins_with_crlf) {
    TempDir d;
    put(d / "a.txt", "A=1\nB=2\rC=3\r\nD=4");
    EXPECT_EQ(readSettingsFile(d / "a.txt"), "A=1\r\nB=2\r\nC=3\r\nD=4\r\n");
    put(d / "empty.txt", "");
    EXPECT_EQ(readSettingsFile(d / "empty.txt"), "");
    EXPECT_EQ(joinLinesCrLf("\r\n\r\n"), "\r\n\r\n");
}

TEST(settings_file, writes_crlf_lines_and_replaces) {
    TempDir d;
    const std::string f = d / "out.txt";
    put(f, "old content that is longer");
    writeSettingsFile(f, "MicLevel=10\nSmsBalans=0\n");
    EXPECT_EQ(get(f), "MicLevel=10\r\nSmsBalans=0\r\n");
    writeSettingsFile(f, "");
    EXPECT_TRUE(fs::exists(f));
    EXPECT_EQ(fs::file_size(f), 0u) << "all defaults give a zero-byte file";
    EXPECT_FALSE(fs::exists(f + ".z58tmp"));
}

TEST(settings_file, cyrillic_path) {
    TempDir d;
    fs::create_directory(d.path / fs::u8path("Настройки"));
    const std::string f = (d.path / fs::u8path("Настройки") / fs::u8path("машина.txt")).u8string();
    writeSettingsFile(f, "Balans=*100#\n");
    EXPECT_EQ(readSettingsFile(f), "Balans=*100#\r\n");
}

TEST(settings_file, read_failures_are_clear_errors) {
    TempDir d;
    EXPECT_THROW(readSettingsFile(d / "missing.txt"), std::runtime_error);
    EXPECT_THROW(readSettingsFile(d.str()), std::runtime_error);
    try {
        readSettingsFile(d.str());
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("папка"), std::string::npos) << e.what();
    }
    const std::string huge = d / "huge.txt";
    { std::ofstream f(huge, std::ios::binary); f.seekp(static_cast<std::streamoff>(kMaxSettingsFileSize) + 1); f.put('x'); }
    EXPECT_THROW(readSettingsFile(huge), std::runtime_error);
}

// A failed save must leave the previous file exactly as it was.
TEST(settings_file, failed_write_keeps_the_old_file) {
    TempDir d;
    const std::string f = d / "keep.txt";
    put(f, "MicLevel=3\r\n");
    // The temporary file cannot be created: a folder stands in its way.
    fs::create_directory(f + ".z58tmp");
    fs::create_directory(f + ".z58tmp/blocker");
    EXPECT_THROW(writeSettingsFile(f, "MicLevel=9\n"), std::runtime_error);
    EXPECT_EQ(get(f), "MicLevel=3\r\n");
    fs::remove_all(f + ".z58tmp");
#ifndef _WIN32
    if (fs::exists("/dev/full")) {
        // The temporary file beside the target is a link to a full disk.
        fs::create_symlink("/dev/full", f + ".z58tmp");
        try {
            writeSettingsFile(f, std::string(100000, 'x') + "\n");
            ADD_FAILURE() << "write to a full disk reported success";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("keep.txt"), std::string::npos);
        }
        EXPECT_EQ(get(f), "MicLevel=3\r\n");
    }
#endif
}

TEST(settings_file, hostile_files_are_refused_or_read_safely) {
    TempDir d;
    // 100 MB: refused at once by its size, without reading it.
    const std::string huge = d / "huge.txt";
    {
        std::ofstream f(huge, std::ios::binary);
        f.seekp(100LL * 1024 * 1024);
        f.put('x');
    }
    try {
        readSettingsFile(huge);
        ADD_FAILURE() << "a 100 MB file was read";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("слишком большой"), std::string::npos) << e.what();
    }
    // Binary content, NUL bytes included, reads as lines of bytes.
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 37) & 0xFF);
    put(d / "binary.txt", binary);
    const std::string text = readSettingsFile(d / "binary.txt");
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
#ifndef _WIN32
    // Unreadable: only meaningful where permissions bind (root reads anything).
    put(d / "secret.txt", "MicLevel=3\n");
    fs::permissions(d / "secret.txt", fs::perms::none);
    if (geteuid() != 0) {
        EXPECT_THROW(readSettingsFile(d / "secret.txt"), std::runtime_error);
    }
    // A read-only folder: the save fails and the old file stays.
    const fs::path ro = d.path / "readonly";
    fs::create_directory(ro);
    put((ro / "keep.txt").string(), "MicLevel=3\r\n");
    fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() != 0) {
        EXPECT_THROW(writeSettingsFile((ro / "keep.txt").string(), "MicLevel=9\n"), std::runtime_error);
        EXPECT_EQ(get((ro / "keep.txt").string()), "MicLevel=3\r\n");
    }
    fs::permissions(ro, fs::perms::owner_all);
#endif
}
