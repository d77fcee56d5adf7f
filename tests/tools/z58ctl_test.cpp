// z58ctl end to end: exit codes, output and files, against the emulator.
#include "EmulatorProcess.h"
#include "RunProgram.h"
#include "TempDir.h"
#include "WaitFor.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

struct CtlTest : ::testing::Test, IsolatedSetup {
    ProgramResult ctl(std::vector<std::string> args, const std::string& input = "") {
        return runProgram(Z58CTL_PATH, std::move(args), input);
    }
};

} // namespace

TEST_F(CtlTest, usage_errors_exit_2) {
    EXPECT_EQ(ctl({}).exitCode, 2);
    EXPECT_EQ(ctl({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(ctl({"--bogus", "params"}).exitCode, 2);
    EXPECT_EQ(ctl({"check", "MicLevel"}).exitCode, 2);
    const auto help = ctl({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("update-firmware"), std::string::npos);
}

TEST_F(CtlTest, parameter_commands) {
    const auto params = ctl({"params"});
    EXPECT_EQ(params.exitCode, 0);
    EXPECT_NE(params.out.find("[Настройки связи]"), std::string::npos);
    EXPECT_NE(params.out.find("99 = Запуск по команде"), std::string::npos);

    EXPECT_EQ(ctl({"check", "MicLevel", "8"}).exitCode, 0);
    const auto low = ctl({"check", "MicLevel", "0"});
    EXPECT_EQ(low.exitCode, 1);
    EXPECT_EQ(low.err, "0 - маловато будет.\n");
    EXPECT_EQ(ctl({"check", "NoSuchKey", "1"}).exitCode, 2);
    EXPECT_EQ(ctl({"check", "Balans", "日本語日本語"}).exitCode, 2) << "not representable in Windows-1251";

    EXPECT_EQ(ctl({"sms", "MicLevel", "8"}).out, "Set,MicLevel=8\n");
    EXPECT_EQ(ctl({"sms", "AutoStart", "99", "--pin", "1234"}).out, "Set1234,AutoStart=99\n");
}

TEST_F(CtlTest, normalize_writes_what_save_would) {
    std::ofstream(dir / "in.txt", std::ios::binary) << "SmsBalans=0\nJunk\rMicLevel=10\r\nMicLevel=8\r\n";
    ASSERT_EQ(ctl({"normalize", dir / "in.txt", dir / "out.txt"}).exitCode, 0);
    EXPECT_EQ(readWhole(dir / "out.txt"), "SmsBalans=0\r\n");
    EXPECT_EQ(ctl({"normalize", dir / "missing.txt", dir / "out2.txt"}).exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "out2.txt"));
}

TEST_F(CtlTest, device_commands_against_the_emulator) {
    EmulatorProcess emu({"--register", "COM7", "--serial", "4294967295", "--settings-text", "SlaveMode=3\\nPinCod=1234\\nX=1\\n",
                         "--type", "QV_r3", "--version", "001.050"});
    EXPECT_EQ(ctl({"--port", "COM7", "serial"}).out, "4294967295\n");
    EXPECT_EQ(ctl({"--port", "COM7", "version"}).out, "QV_r3\n001.050\nNov 11 2019\n");
    const auto read = ctl({"--port", "COM7", "read-settings", dir / "s.txt"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(readWhole(dir / "s.txt"), "PinCod=1234\r\nSlaveMode=3\r\n");
    EXPECT_EQ(ctl({"--port", "COM7", "read-settings"}).out, "PinCod=1234\r\nSlaveMode=3\r\n");

    std::ofstream(dir / "w.txt", std::ios::binary) << "MicLevel=12\r\n";
    EXPECT_EQ(ctl({"--port", "COM7", "write-settings", dir / "w.txt"}).exitCode, 0);
    EXPECT_EQ(ctl({"--port", "COM7", "read-settings"}).out, "MicLevel=12\r\n");

    EXPECT_EQ(ctl({"--port", "COM7", "diagnostics"}).out.substr(0, 6), "A0 A1 ");
    EXPECT_EQ(ctl({"--port", "COM7", "restart"}).exitCode, 0);

    const auto fw = ctl({"--port", "COM7", "update-firmware", "--yes"});
    EXPECT_EQ(fw.exitCode, 0) << fw.err;
    EXPECT_NE(fw.err.find("блок 102/102"), std::string::npos);
    EXPECT_NE(fw.err.find("Загрузка закончена."), std::string::npos);
    EXPECT_EQ(ctl({"--port", "COM7", "version"}).out, "QV_r3\n001.083\nNov 11 2019\n") << "restarted into the new image";

    const auto snd = ctl({"--port", "COM7", "update-sound", "--yes"});
    EXPECT_EQ(snd.exitCode, 0) << snd.err;
    EXPECT_NE(snd.err.find("Данные успешно записаны."), std::string::npos);
}

TEST_F(CtlTest, questions_answered_no_change_nothing) {
    EmulatorProcess emu({"--register", "COM7", "--log", dir / "emu.jsonl"});
    // Same version: the second question is answered "n".
    const auto fw = ctl({"--port", "COM7", "update-firmware"}, "y\nn\n");
    EXPECT_EQ(fw.exitCode, 0);
    EXPECT_EQ(readWhole(dir / "emu.jsonl").find("\"type\":195"), std::string::npos) << "no upload began";
    EXPECT_EQ(ctl({"--port", "COM7", "update-sound"}, "").exitCode, 0) << "no answer means no";
    EXPECT_EQ(readWhole(dir / "emu.jsonl").find("\"type\":196"), std::string::npos);
}

TEST_F(CtlTest, failures_exit_1_and_never_report_success) {
    EXPECT_EQ(ctl({"--port", "COM9", "serial"}).exitCode, 1);
    EmulatorProcess emu({"--register", "COM7", "--refuse-crc"});
    const auto fw = ctl({"--port", "COM7", "update-firmware", "--yes"});
    EXPECT_EQ(fw.exitCode, 1);
    EXPECT_NE(fw.err.find("Нет подтвеждения CRC"), std::string::npos);
    EXPECT_EQ(fw.err.find("Загрузка закончена."), std::string::npos);
    const auto snd = ctl({"--port", "COM7", "update-sound", "--yes"});
    EXPECT_EQ(snd.exitCode, 1);
    EXPECT_EQ(snd.err.find("Данные успешно записаны."), std::string::npos);
}

TEST_F(CtlTest, find_port_remembers) {
    EmulatorProcess emu({"--register", "COM3"});
    const auto r = ctl({"find-port"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Порт:\tCOM3\nТип:\tQV_r2\nВерсия:\t001.083\nНомер:\t305419896\n");
    EXPECT_EQ(readWhole(dir / "config/z58/port"), "COM3\n");
    EXPECT_EQ(ctl({"serial"}).out, "305419896\n") << "the remembered port is the default";
}
