// The data folder and the backups in it are this user's alone: folders 0700,
// backup files 0600, those made before the change too.
#include "BackupStore.h"
#include "DataFolder.h"
#include "SettingsFile.h"
#include "TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

unsigned modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

void put(const std::string& path, const std::string& bytes, unsigned mode) {
    std::ofstream(path, std::ios::binary) << bytes;
    ::chmod(path.c_str(), mode);
}

// The umask most desktops run with: without care, new files are world-readable.
struct ScopedUmask {
    mode_t old;
    explicit ScopedUmask(mode_t m) : old(::umask(m)) {}
    ~ScopedUmask() { ::umask(old); }
};

} // namespace

TEST(data_folder, follows_xdg_data_home_and_holds_the_backups) {
    TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", dir / "d");
    EXPECT_EQ(dataFolder(), dir / "d" + "/z58");
    EXPECT_EQ(backupFolder(), dataFolder() + "/backups");
    EXPECT_EQ(openDataFolder(), dataFolder());
    EXPECT_TRUE(fs::is_directory(backupFolder()));
}

TEST(data_folder, a_new_backup_is_private_whatever_the_umask) {
    TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", dir / "d");
    ScopedUmask mask(0);
    const std::string path = saveBackup(77, "PinCod=1234\nUserNumber1=+79161234567\n");
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(backupFolder()), 0700u);
    EXPECT_EQ(modeOf(dataFolder()), 0700u);
    EXPECT_EQ(backupSettingsText(path), "PinCod=1234\nUserNumber1=+79161234567\n");
}

TEST(data_folder, backups_made_before_are_made_private_when_the_folder_is_opened) {
    TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", dir / "d");
    ScopedUmask mask(022);
    fs::create_directories(backupFolder());
    ::chmod(dataFolder().c_str(), 0755);
    ::chmod(backupFolder().c_str(), 0775);
    const std::string old = backupFolder() + "/77_2026-12-08_09-05-07.txt";
    const std::string readOnly = backupFolder() + "/77_2026-12-08_09-05-08.txt";
    put(old, "PinCod=1234\r\n", 0644);
    put(readOnly, "PinCod=1\r\n", 0444);
    // A link is listed as before, but the file it names is not ours to change.
    const std::string outside = dir / "shared.txt";
    put(outside, "x", 0644);
    fs::create_symlink(outside, backupFolder() + "/12_2026-12-08_09-05-07.txt");

    const auto list = listBackups();
    EXPECT_EQ(list.size(), 3u);
    EXPECT_EQ(modeOf(dataFolder()), 0700u);
    EXPECT_EQ(modeOf(backupFolder()), 0700u);
    EXPECT_EQ(modeOf(old), 0600u);
    EXPECT_EQ(modeOf(readOnly), 0400u) << "only group and others lose access";
    EXPECT_EQ(modeOf(outside), 0644u);
    std::ifstream in(old, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "PinCod=1234\r\n") << "content untouched";
}

TEST(data_folder, a_file_in_the_folders_place_is_a_clear_error_and_stays) {
    TempDir dir;
    fs::create_directories(dir.path / "d");
    put(dir / "d/z58", "mine", 0644);
    ScopedEnv data("XDG_DATA_HOME", dir / "d");
    try {
        openDataFolder();
        ADD_FAILURE() << "a file was taken for the folder";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(dir / "d/z58"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_regular_file(dir / "d/z58"));
    EXPECT_TRUE(listBackups().empty());
    EXPECT_THROW(saveBackup(1, "A=1\n"), std::runtime_error);
}

TEST(file_access, owner_only_takes_group_and_others_off_an_old_file_and_as_before_keeps_its_mode) {
    TempDir dir;
    ScopedUmask mask(022);
    put(dir / "shared.txt", "A=1\r\n", 0664);
    put(dir / "mine.txt", "A=1\r\n", 0664);
    writeSettingsFile(dir / "shared.txt", "A=2\n");
    writeSettingsFile(dir / "mine.txt", "A=2\n", FileAccess::OwnerOnly);
    writeSettingsFile(dir / "new.txt", "A=2\n", FileAccess::OwnerOnly);
    EXPECT_EQ(modeOf(dir / "shared.txt"), 0664u);
    EXPECT_EQ(modeOf(dir / "mine.txt"), 0600u);
    EXPECT_EQ(modeOf(dir / "new.txt"), 0600u);
}
#endif
