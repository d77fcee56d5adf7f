#include "SettingsFile.h"
#include "TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
    EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 1) << "no temporary left";
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

TEST(settings_file, leftover_temporary_does_not_block_a_save) {
    TempDir d;
    const std::string f = d / "keep.txt";
    put(f, "MicLevel=3\r\n");
    fs::create_directory(f + ".z58tmp");
    fs::create_directory(f + ".z58tmp/blocker");
    put(f + ".z58tmp-1-0", "left by a crash");
    writeSettingsFile(f, "MicLevel=9\n");
    EXPECT_EQ(get(f), "MicLevel=9\r\n");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(d.path))
        ++entries;
    EXPECT_EQ(entries, 3u) << "no temporary of this save is left behind";
}

TEST(settings_file, byte_order_mark_is_skipped) {
    TempDir d;
    put(d / "bom.txt", "\xEF\xBB\xBFMicLevel=10\r\nPinCod=1234\r\n");
    EXPECT_EQ(readSettingsFile(d / "bom.txt"), "MicLevel=10\r\nPinCod=1234\r\n");
    put(d / "mid.txt", "A=1\r\n\xEF\xBB\xBF" "B=2\r\n");
    EXPECT_EQ(readSettingsFile(d / "mid.txt"), "A=1\r\n\xEF\xBB\xBF" "B=2\r\n") << "only a leading mark is one";
}

TEST(settings_file, directory_target_is_refused) {
    TempDir d;
    fs::create_directory(d.path / "folder.txt");
    try {
        writeSettingsFile(d / "folder.txt", "A=1\n");
        ADD_FAILURE() << "a folder was written";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("папка"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_directory(d.path / "folder.txt"));
}

#ifndef _WIN32
// A failed save must leave the previous file exactly as it was, and leave no
// temporary behind: here the write runs into the file size limit (as a full
// disk would stop it).
TEST(settings_file, failed_write_keeps_the_old_file) {
    TempDir d;
    const std::string f = d / "keep.txt";
    put(f, "MicLevel=3\r\n");
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    try {
        writeSettingsFile(f, std::string(100000, 'x') + "\n");
        ADD_FAILURE() << "a write past the limit reported success";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("keep.txt"), std::string::npos) << e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_EQ(get(f), "MicLevel=3\r\n");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(d.path))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(settings_file, save_through_a_link_keeps_link_mode_and_refuses_devices) {
    TempDir d;
    fs::create_directory(d.path / "real");
    const std::string target = d / "real/car.txt";
    put(target, "MicLevel=3\r\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("real/car.txt", d.path / "link.txt");
    writeSettingsFile(d / "link.txt", "MicLevel=9\n");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(d.path / "link.txt"))) << "the link stays a link";
    EXPECT_EQ(get(target), "MicLevel=9\r\n");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write)
        << "mode 600 stays 600";

    fs::create_symlink(d.path / "real/new.txt", d.path / "dangling.txt");
    writeSettingsFile(d / "dangling.txt", "A=1\n");
    EXPECT_EQ(get(d / "real/new.txt"), "A=1\r\n");

    if (fs::exists("/dev/null")) {
        try {
            writeSettingsFile("/dev/null", "A=1\n");
            ADD_FAILURE() << "a device node was accepted as a settings file";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("не обычный файл"), std::string::npos) << e.what();
        }
        EXPECT_TRUE(fs::is_character_file("/dev/null")) << "the device node is untouched";
    }
    ::mkfifo((d / "pipe.txt").c_str(), 0600);
    EXPECT_THROW(writeSettingsFile(d / "pipe.txt", "A=1\n"), std::runtime_error);
}

// A writable file in a folder that is not: the message names the folder. Run as
// a user the folder's permissions bind (root may write anywhere).
TEST(settings_file, read_only_folder_is_named) {
    TempDir d;
    const fs::path ro = d.path / "readonly";
    fs::create_directory(ro);
    put((ro / "keep.txt").string(), "MicLevel=3\r\n");
    fs::permissions(ro / "keep.txt", fs::perms::all);
    fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const auto check = [&] {
        try {
            writeSettingsFile((ro / "keep.txt").string(), "MicLevel=9\n");
            return std::string("saved");
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
    };
    std::string message;
    if (geteuid() != 0) {
        message = check();
    } else {
        // As root, check as an unprivileged user in a child process.
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        fs::permissions(d.path, fs::perms::all);
        const pid_t child = fork();
        if (child == 0) {
            ::close(fds[0]);
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(3);
            const std::string m = check();
            (void)!::write(fds[1], m.data(), m.size());
            _exit(0);
        }
        ::close(fds[1]);
        char buf[1024];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
            message.append(buf, static_cast<size_t>(n));
        ::close(fds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "could not drop privileges";
    }
    EXPECT_NE(message.find("папка \"" + ro.u8string() + "\" закрыта для записи"), std::string::npos) << message;
    EXPECT_EQ(get((ro / "keep.txt").string()), "MicLevel=3\r\n");
    fs::permissions(ro, fs::perms::owner_all);
}
#endif

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
#endif
}
