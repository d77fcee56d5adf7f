// Device operations through the real VCOM_Port over a pseudo-terminal, against
// the controller emulator, including its fault injection.
#include "Device.h"
#include "Embedded.h"
#include "EmulatorProcess.h"
#include "PortSettingStore.h"
#include "Pty.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "Upload.h"
#include "Vcom_port.h"

#include <chrono>
#include <functional>
#include <ctime>
#include <atomic>
#include <thread>
#include <fstream>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using SteadyClock = std::chrono::steady_clock;

namespace {

long long msSince(SteadyClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - t).count();
}

struct EmulatorTest : ::testing::Test, IsolatedSetup {
    std::unique_ptr<EmulatorProcess> start(std::vector<std::string> args) {
        return std::make_unique<EmulatorProcess>(std::move(args));
    }
    std::string log() {
        std::ifstream in(dir / "emu.jsonl");
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
};

// Runs an upload like the desktop program and the CLI do; the result code of the
// first failure, or of the commit.
int upload(Device& d, UploadStepper& up) {
    while (!up.allSent()) {
        const int code = up.sendNextBlock(d);
        if (code < 0)
            return code;
    }
    return up.commit(d);
}

FirmwareImage firmware() {
    FirmwareImage fw;
    const EmbeddedResource r = embeddedResource("blow");
    fw.load(r.data, r.size);
    return fw;
}

} // namespace

TEST_F(EmulatorTest, every_operation_succeeds) {
    auto emu = start({"--register", "COM7", "--serial", "4294967295", "--settings-text", "MicLevel=10\\nPinCod=1234\\n",
                      "--log", dir / "emu.jsonl"});
    Device d("COM7");
    std::uint32_t serial = 0;
    EXPECT_EQ(d.GetSerialNumber(serial), 1);
    EXPECT_EQ(serial, 4294967295u);
    std::string text;
    EXPECT_EQ(d.GetVersionInfo(text), 1);
    EXPECT_EQ(text, "QV_r2\n001.083\nNov 11 2019");
    EXPECT_EQ(d.ReadSettings(text), 1);
    EXPECT_EQ(text, "MicLevel=10\nPinCod=1234\n");
    EXPECT_EQ(d.WriteSettings("SmsBalans=0\n"), 1);
    EXPECT_EQ(d.ReadSettings(text), 1);
    EXPECT_EQ(text, "SmsBalans=0\n");
    EXPECT_EQ(d.SetSerialNumber(99), 1);
    EXPECT_EQ(d.GetSerialNumber(serial), 1);
    EXPECT_EQ(serial, 99u);
    EXPECT_EQ(d.StartCalibration(1, -1), 1);
    unsigned char diag[24] = {};
    EXPECT_EQ(d.ReadDiagnostics(diag), 1);
    EXPECT_EQ(diag[0], 0xA0);
    EXPECT_EQ(d.BeginFirmwareUpdate(), 1);
    EXPECT_EQ(d.BeginSoundUpdate(), 1);
    const unsigned char block[4] = {1, 2, 3, 4};
    EXPECT_EQ(d.WriteDataBlock(block, 0, 4), 1);
    EXPECT_EQ(d.RestartDevice(), 1);
    EXPECT_NE(log().find("\"type\":201,\"flag\":false,\"length\":13,\"text\":\"SmsBalans=0\\u000a\""), std::string::npos) << log();
    EXPECT_TRUE(fileContainsSoon(dir / "emu.jsonl", "{\"type\":15,"));
}

TEST_F(EmulatorTest, firmware_upload_is_confirmed_and_restart_applies_it) {
    auto emu = start({"--register", "COM7", "--version", "001.050", "--log", dir / "emu.jsonl"});
    Device d("COM7");
    FirmwareImage fw = firmware();
    ASSERT_EQ(d.BeginFirmwareUpdate(), 1);
    UploadStepper up(fw.stream.data(), fw.stream.size(), fw.imageCrc, fw.imageSize);
    EXPECT_EQ(upload(d, up), 1);
    EXPECT_EQ(up.blocksSent(), 102u);
    EXPECT_NE(log().find("\"offset\":103424,\"block\":714"), std::string::npos);
    EXPECT_EQ(d.RestartDevice(), 1);
    std::string text;
    EXPECT_EQ(d.GetVersionInfo(text), 1);
    EXPECT_EQ(text, "QV_r2\n001.083\nNov 11 2019");
}

TEST_F(EmulatorTest, sound_upload_is_confirmed) {
    auto emu = start({"--register", "COM7", "--log", dir / "emu.jsonl"});
    Device d("COM7");
    const EmbeddedResource r = embeddedResource("wave_list");
    SoundBank bank;
    ASSERT_TRUE(bank.load(r.data, r.size));
    ASSERT_EQ(d.BeginSoundUpdate(), 1);
    UploadStepper up(bank.stream, bank.size, bank.dataCrc, bank.dataLength);
    EXPECT_EQ(upload(d, up), 1);
    EXPECT_NE(log().find("\"offset\":609280,\"block\":103"), std::string::npos);
    // A wrong CRC is not confirmed.
    UploadStepper wrong(bank.stream, bank.size, bank.dataCrc ^ 1, bank.dataLength);
    ASSERT_EQ(d.BeginSoundUpdate(), 1);
    EXPECT_EQ(upload(d, wrong), -3);
}

TEST_F(EmulatorTest, silent_controller_fails_after_four_seconds) {
    auto emu = start({"--register", "COM7", "--silent"});
    Device d("COM7");
    std::uint32_t serial = 5;
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(d.GetSerialNumber(serial), -2);
    const auto spent = msSince(t0);
    EXPECT_GE(spent, 3990);
    EXPECT_LT(spent, 5000);
    EXPECT_EQ(serial, 5u);
    EXPECT_EQ(d.ReplyTimeout(), kReplyTimeoutMs);
}

TEST_F(EmulatorTest, missing_port_fails_at_once) {
    Device d("COM9");
    std::uint32_t serial = 0;
    EXPECT_EQ(d.GetSerialNumber(serial), -1);
    Device empty("");
    EXPECT_EQ(empty.GetSerialNumber(serial), -1);
}

// Each fault flag against the operation it targets: the exact code, within the
// time limit plus a margin, and the port usable right after.
TEST_F(EmulatorTest, fault_flags_give_failures_never_success) {
    struct Case {
        std::vector<std::string> flags;
        int expected;
        long long maxMs;
        bool upload;
    };
    const Case cases[] = {
        {{"--wrong-type"}, -3, 1000, false},
        {{"--oversize"}, -2, 5000, false},
        {{"--slow", "4500"}, -2, 5000, false},
        {{"--stop-ack-after", "5"}, -2, 5500, true},
        {{"--refuse-crc"}, -3, 5000, true},
        {{"--intrude-after", "3"}, -3, 3000, true},
        {{"--vanish-after", "3"}, -2, 5500, true},
        {{"--vanish-mid-reply", "1"}, -2, 5500, false},
    };
    FirmwareImage fw = firmware();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags[0]);
        std::vector<std::string> args = {"--register", "COM7"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        auto emu = start(args);
        Device d("COM7");
        const auto t0 = SteadyClock::now();
        int code;
        if (c.upload) {
            ASSERT_EQ(d.BeginFirmwareUpdate(), 1);
            UploadStepper up(fw.stream.data(), fw.stream.size(), fw.imageCrc, fw.imageSize);
            code = upload(d, up);
        } else {
            std::uint32_t serial = 0;
            code = d.GetSerialNumber(serial);
        }
        EXPECT_EQ(code, c.expected);
        EXPECT_LT(msSince(t0), c.maxMs);
        // The port was released: it opens again at once, or is gone after an unplug.
        VCOM_Port again("COM7");
        const bool vanished = c.flags[0].rfind("--vanish", 0) == 0;
        EXPECT_EQ(again.open(), !vanished);
    }
}

TEST_F(EmulatorTest, tolerated_line_behaviour_still_succeeds) {
    const std::vector<std::vector<std::string>> flags = {{"--flag-bit"}, {"--chunked", "3:20"}, {"--slow", "300"}};
    for (const auto& f : flags) {
        SCOPED_TRACE(f[0]);
        std::vector<std::string> args = {"--register", "COM7"};
        args.insert(args.end(), f.begin(), f.end());
        auto emu = start(args);
        Device d("COM7");
        std::string text;
        EXPECT_EQ(d.GetVersionInfo(text), 1);
        EXPECT_EQ(text, "QV_r2\n001.083\nNov 11 2019");
    }
}

TEST_F(EmulatorTest, pauses_and_stray_bytes_on_a_real_line) {
    {   // header and two payload bytes, then a pause longer than a read's time-out
        auto emu = start({"--register", "COM7", "--chunked", "6:1300"});
        Device d("COM7");
        std::uint32_t serial = 0;
        EXPECT_EQ(d.GetSerialNumber(serial), 1);
        EXPECT_EQ(serial, 305419896u);
    }
    {   // stray bytes after every reply stay in the line until the next open
        auto emu = start({"--register", "COM7", "--stray", "3"});
        Device d("COM7");
        std::uint32_t serial = 0;
        EXPECT_EQ(d.GetSerialNumber(serial), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto t = SteadyClock::now();
        EXPECT_EQ(d.BeginFirmwareUpdate(), 1);
        EXPECT_LT(msSince(t), 1000);
        std::string text;
        EXPECT_EQ(d.GetVersionInfo(text), 1);
    }
}

TEST_F(EmulatorTest, silent_wait_sleeps) {
    auto emu = start({"--register", "COM7", "--silent"});
    Device d("COM7");
    std::uint32_t serial = 0;
    const std::clock_t cpu = std::clock();
    const auto t = SteadyClock::now();
    EXPECT_EQ(d.GetSerialNumber(serial), -2);
    const double wall = static_cast<double>(msSince(t)) / 1000.0;
    const double used = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    EXPECT_LT(used, 0.5 * wall) << "the reply wait must sleep, not spin";
}

TEST_F(EmulatorTest, odd_version_texts_parse_safely) {
    auto emu = start({"--register", "COM7", "--version-text", std::string(60, 'X') + "\\n" + std::string(30, 'Y')});
    Device d("COM7");
    std::string text;
    ASSERT_EQ(d.GetVersionInfo(text), 1);
    DeviceInfo info;
    d.ParseVersionInfo(info, text.c_str());
    EXPECT_EQ(fieldText(info.deviceType), std::string(47, 'X'));
    EXPECT_EQ(fieldText(info.firmwareVersion), std::string(15, 'Y'));
    EXPECT_EQ(fieldText(info.buildDate), "");
}

TEST_F(EmulatorTest, restart_with_line_drop_comes_back) {
    auto emu = start({"--register", "COM7", "--restart-drop", "200"});
    Device d("COM7");
    EXPECT_EQ(d.RestartDevice(), 1);
    emu->waitReady(3000);
    std::uint32_t serial = 0;
    EXPECT_EQ(d.GetSerialNumber(serial), 1);
}

namespace {

bool soon(const std::function<bool()>& done, int timeoutMs = 3000) {
    const auto end = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (SteadyClock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void tell(const std::string& fifo, const std::string& line) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << fifo;
    const std::string text = line + "\n";
    EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

std::string linkOf(const std::string& link) {
    std::error_code ec;
    return std::filesystem::read_symlink(link, ec).string();
}

} // namespace

// A controller that restarts into new firmware may come back on another COM port.
TEST_F(EmulatorTest, restart_away_comes_back_on_a_new_line_and_name_with_the_uploaded_version) {
    auto emu = start({"--register", "COM7", "--come-back-as", "COM9", "--restart-drop", "300", "--version", "001.050"});
    const std::string first = emu->path();
    EXPECT_EQ(linkOf(dir / "ports/COM7"), first);
    {
        Device d("COM7");
        FirmwareImage fw = firmware();
        ASSERT_EQ(d.BeginFirmwareUpdate(), 1);
        UploadStepper up(fw.stream.data(), fw.stream.size(), fw.imageCrc, fw.imageSize);
        ASSERT_EQ(upload(d, up), 1);
        EXPECT_EQ(d.RestartDevice(), 1);
        const std::string back = emu->waitReady(3000);
        EXPECT_FALSE(std::filesystem::exists(dir / "ports/COM7")) << "the old name went with the old line";
        EXPECT_EQ(linkOf(dir / "ports/COM9"), back);
        std::uint32_t serial = 0;
        EXPECT_LT(d.GetSerialNumber(serial), 0) << "nothing answers on COM7 now";
    }
    Device d("COM9");
    std::string text;
    EXPECT_EQ(d.GetVersionInfo(text), 1);
    EXPECT_EQ(text, "QV_r2\n001.083\nNov 11 2019") << "the image's version, not the one before";
}

TEST_F(EmulatorTest, unplug_and_plug_through_the_control_channel_keep_the_controller) {
    const std::string fifo = dir / "control";
    auto emu = start({"--register", "COM7", "--control", fifo, "--restart-drop", "100"});
    Device d("COM7");
    ASSERT_EQ(d.SetSerialNumber(99), 1);
    ASSERT_EQ(d.WriteSettings("MicLevel=3\n"), 1);

    // A client holding the old line sees it hang up, and the name goes with it.
    const std::string old = emu->path();
    const int client = ::open(old.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(client, 0);
    tell(fifo, "unplug");
    pollfd p{client, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 3000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR)) << p.revents;
    char c = 0;
    EXPECT_LE(::read(client, &c, 1), 0);
    EXPECT_EQ(::write(client, "x", 1), -1);
    ::close(client);
    EXPECT_TRUE(soon([&] { return !std::filesystem::exists(dir / "ports/COM7"); }));
    std::uint32_t serial = 0;
    EXPECT_LT(d.GetSerialNumber(serial), 0);
    tell(fifo, "unplug"); // already out: ignored, and it still serves the control channel

    tell(fifo, "plug");
    const std::string back = emu->waitReady(3000);
    EXPECT_EQ(linkOf(dir / "ports/COM7"), back);
    EXPECT_EQ(d.GetSerialNumber(serial), 1);
    EXPECT_EQ(serial, 99u) << "the same controller";
    std::string text;
    EXPECT_EQ(d.ReadSettings(text), 1);
    EXPECT_EQ(text, "MicLevel=3\n");

    tell(fifo, "plug"); // already in: nothing changes, no READY
    const auto t0 = SteadyClock::now();
    tell(fifo, "restart");
    const std::string restarted = emu->waitReady(3000);
    EXPECT_GE(msSince(t0), 90) << "this READY is the restart's, after its 100 ms away";
    EXPECT_EQ(linkOf(dir / "ports/COM7"), restarted);
    EXPECT_EQ(d.GetSerialNumber(serial), 1);
    EXPECT_EQ(serial, 99u);
    EXPECT_FALSE(emu->exited());
}

TEST_F(EmulatorTest, a_control_path_that_is_not_a_fifo_is_refused) {
    std::ofstream(dir / "plain") << "x";
    EXPECT_THROW(EmulatorProcess({"--control", dir / "plain"}), std::runtime_error);
}

TEST_F(EmulatorTest, port_search_skips_a_silent_port) {
    PtyPair silent;
    std::filesystem::create_directories(dir / "ports");
    std::filesystem::create_symlink(silent.path, dir / "ports/COM2");
    auto emu = start({"--register", "COM3", "--serial", "4294967295"});
    Device d("COM5");
    std::string report;
    const auto t0 = SteadyClock::now();
    EXPECT_TRUE(d.FindDevicePort(report));
    const auto spent = msSince(t0);
    EXPECT_GE(spent, 3990) << "about 4 s on the silent COM2";
    EXPECT_LT(spent, 6000);
    EXPECT_EQ(report, "Порт:\tCOM3\nТип:\tQV_r2\nВерсия:\t001.083\nНомер:\t4294967295\n");
    EXPECT_EQ(d.portName(), "COM3") << "the device stays on the port it found";
}

TEST_F(EmulatorTest, port_search_not_found_restores_the_port_name) {
    PtyPair other;
    std::filesystem::create_directories(dir / "ports");
    std::filesystem::create_symlink(other.path, dir / "ports/COM4");
    Device d("COM9");
    std::string report = "untouched";
    EXPECT_FALSE(d.FindDevicePort(report));
    EXPECT_EQ(report, "untouched");
    EXPECT_EQ(d.portName(), "COM9") << "not left on COM4, which passed the probe";
}

TEST_F(EmulatorTest, controller_outside_the_searched_range_is_not_found) {
    auto emu1 = start({"--register", "COM1"});
    auto emu255 = start({"--register", "COM255"});
    Device d("COM5");
    std::string report;
    EXPECT_FALSE(d.FindDevicePort(report));
}

TEST_F(EmulatorTest, port_setting_store) {
    EXPECT_EQ(portSettingStore().read(), "") << "missing reads as empty";
    EXPECT_TRUE(portSettingStore().write("COM12"));
    EXPECT_EQ(portSettingStore().read(), "COM12");
}

TEST_F(EmulatorTest, port_search_leaves_alone_a_port_another_runner_holds) {
    auto held = start({"--register", "COM3"});
    auto free = start({"--register", "COM4", "--serial", "44"});
    Device d("COM9");
    d.SetPortsInUse([](const std::string& port) { return port == "COM3"; });
    std::string report;
    EXPECT_TRUE(d.FindDevicePort(report));
    EXPECT_EQ(d.portName(), "COM4") << report;
    EXPECT_NE(report.find("Номер:\t44"), std::string::npos);
}

TEST_F(EmulatorTest, cancelled_wait_ends_early_as_a_time_out_and_the_port_is_closed) {
    auto emu = start({"--register", "COM7", "--silent"});
    Device d("COM7");
    std::atomic<bool> cancel{false};
    d.SetCancelFlag(&cancel);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    const auto t0 = SteadyClock::now();
    std::uint32_t serial = 0;
    EXPECT_EQ(d.GetSerialNumber(serial), -2);
    const auto spent = msSince(t0);
    canceller.join();
    EXPECT_GE(spent, 290);
    EXPECT_LT(spent, 1500) << "not the whole 4 s";
    cancel = false;
    auto normal = start({"--register", "COM8"});
    d.SetPortName("COM8");
    EXPECT_EQ(d.GetSerialNumber(serial), 1) << "the next exchange opens the port again";
}

TEST_F(EmulatorTest, cancelled_search_behaves_as_not_found) {
    PtyPair silent2, silent3;
    std::filesystem::create_directories(dir / "ports");
    std::filesystem::create_symlink(silent2.path, dir / "ports/COM2");
    std::filesystem::create_symlink(silent3.path, dir / "ports/COM3");
    auto emu = start({"--register", "COM4"});
    Device d("COM9");
    std::atomic<bool> cancel{false};
    std::vector<std::string> tried;
    d.SetCancelFlag(&cancel);
    d.SetSearchObserver([&](const std::string& port) {
        tried.push_back(port);
        if (port == "COM3")
            cancel = true; // Escape while COM3 is being asked
    });
    const auto t0 = SteadyClock::now();
    std::string report;
    EXPECT_FALSE(d.FindDevicePort(report));
    EXPECT_LT(msSince(t0), 6000) << "COM2's full wait, COM3 cut short";
    EXPECT_EQ(tried, (std::vector<std::string>{"COM2", "COM3"}));
    EXPECT_EQ(d.portName(), "COM9");
}
