// z58ctl end to end: exit codes, output and files, against the emulator.
#include "EmulatorProcess.h"
#include "RunProgram.h"
#include "TempDir.h"
#include "WaitFor.h"

#include <algorithm>
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
    EXPECT_EQ(ctl({"--port", "COM7", "read-settings"}).out, "PinCod=1234\r\nMicLevel=12\r\n")
        << "a file without the owner's PIN does not blank it";

    EXPECT_EQ(ctl({"--port", "COM7", "diagnostics"}).out.substr(0, 6), "A0 A1 ");
    EXPECT_EQ(ctl({"--port", "COM7", "restart"}).exitCode, 0);

    // A QV_r3 controller takes the QV_r2 image only when told so.
    const auto fw = ctl({"--port", "COM7", "update-firmware", "--yes", "--other-type"});
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
    EXPECT_EQ(fw.exitCode, 3) << "declined is not done";
    EXPECT_NE(fw.err.find("ничего не отправлено"), std::string::npos);
    EXPECT_EQ(readWhole(dir / "emu.jsonl").find("\"type\":195"), std::string::npos) << "no upload began";
    const auto first = ctl({"--port", "COM7", "update-firmware"}, "n\n");
    EXPECT_EQ(first.exitCode, 3);
    const auto snd = ctl({"--port", "COM7", "update-sound"}, "");
    EXPECT_EQ(snd.exitCode, 3) << "no answer means no";
    EXPECT_NE(snd.err.find("ничего не отправлено"), std::string::npos);
    EXPECT_EQ(readWhole(dir / "emu.jsonl").find("\"type\":196"), std::string::npos);
}

TEST_F(CtlTest, settings_text_too_long_for_a_frame_is_refused_unsent) {
    EmulatorProcess emu({"--register", "COM7", "--log", dir / "emu.jsonl"});
    std::ofstream(dir / "long.txt", std::ios::binary) << "PinCod=" << std::string(65530, '7') << "\r\nMicLevel=12\r\n";
    const auto r = ctl({"--port", "COM7", "write-settings", dir / "long.txt"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("65550 символов"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("не более 1015"), std::string::npos);
    EXPECT_NE(r.err.find("PinCod"), std::string::npos) << "names the longest value";
    EXPECT_EQ(r.err.find("Настройки записаны."), std::string::npos);
    EXPECT_EQ(readWhole(dir / "emu.jsonl").find("\"type\":201"), std::string::npos) << "nothing sent";

    std::ofstream(dir / "edge.txt", std::ios::binary) << "Balans=" << std::string(1007, 'b') << "\r\n"; // 1015 characters
    const auto edge = ctl({"--port", "COM7", "write-settings", dir / "edge.txt"});
    EXPECT_EQ(edge.exitCode, 0) << edge.err;
}

TEST_F(CtlTest, controller_texts_reach_the_terminal_with_control_characters_visible) {
    EmulatorProcess emu({"--register", "COM7", "--version-text", "QV\\x1b[2J\\n001\\x07.083\\nNov\\x981\\n2019"});
    const auto r = ctl({"--port", "COM7", "version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "QV\\x1b[2J\n001\\x07.083\nNov\\x981\\x0a2019\n");
}

TEST_F(CtlTest, values_that_begin_with_a_dash_are_values) {
    const auto neg = ctl({"check", "MicLevel", "--5"});
    EXPECT_EQ(neg.exitCode, 1);
    EXPECT_EQ(neg.err, "--5 - не является целым цислом\n");
    EXPECT_EQ(ctl({"check", "MicLevel", "-h"}).err, "-h - не является целым цислом\n");
    EXPECT_EQ(ctl({"sms", "PinCod", "--", "--yes"}).out, "Set,PinCod=--yes\n");
    EXPECT_EQ(ctl({"check", "MicLevel", "5", "--bogus"}).exitCode, 2) << "a typo is not silently accepted";
    EXPECT_EQ(ctl({"serial", "extra"}).exitCode, 2);
}

TEST_F(CtlTest, params_serves_a_technician_and_a_script) {
    const auto text = ctl({"params"});
    EXPECT_NE(text.out.find("  MicLevel  number  по умолчанию \"8\"  1..14  Чувствительность микрофона\n"
                            "      | Чувствительность микрофона.(1-14)\n"),
              std::string::npos);
    EXPECT_NE(text.out.find("PinCod  string  по умолчанию \"\"  длина 4..4"), std::string::npos);
    EXPECT_NE(text.out.find("  > Выберите функцию выхода:"), std::string::npos);
    const size_t enumLine = text.out.find("  InpExtAlarm  enum");
    ASSERT_NE(enumLine, std::string::npos);
    const std::string line = text.out.substr(enumLine, text.out.find('\n', enumLine) - enumLine);
    EXPECT_EQ(line.find(".."), std::string::npos) << "no limits where none apply: " << line;

    const auto json = ctl({"params", "--json"});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out.rfind("{\"groups\":[", 0), 0u);
    EXPECT_NE(json.out.find("{\"key\":\"MicLevel\",\"type\":\"number\""), std::string::npos);
    EXPECT_NE(json.out.find("\"minLength\":4,\"maxLength\":4"), std::string::npos);
    EXPECT_NE(json.out.find("{\"value\":99,\"text\":\"Запуск по команде\"}"), std::string::npos);
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

#include "FakeSysfs.h"

TEST_F(CtlTest, ports_lists_present_ports_with_their_names) {
    FakeSysfs tree(dir.path / "sys", dir.path / "dev");
    tree.addUsb("ttyACM0", "1d50", "6018", "A1", "Z58 GSM controller");
    tree.addUart("ttyS0", "4");
    const auto r = ctl({"ports"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "COM2\t" + (dir / "dev/ttyACM0") + "\t1d50:6018\tA1\tUSB: Z58 GSM controller\n" + "COM3\t" +
                         (dir / "dev/ttyS0") + "\t-\t-\tПоследовательный порт ttyS0\n");
    EXPECT_EQ(ctl({"ports", "extra"}).exitCode, 2);
}

TEST_F(CtlTest, doctor_and_failures_say_why_a_port_cannot_be_used) {
    std::filesystem::create_directories(dir / "ports");
    std::filesystem::create_symlink(dir / "dev/ttyACM9", dir / "ports/COM9");
    const auto serial = ctl({"--port", "COM9", "serial"});
    EXPECT_EQ(serial.exitCode, 1);
    EXPECT_NE(serial.err.find("COM9 ведёт на " + (dir / "dev/ttyACM9") + ", а такого устройства нет"), std::string::npos)
        << serial.err;

    const auto doctor = ctl({"doctor"});
    EXPECT_EQ(doctor.exitCode, 0);
    EXPECT_NE(doctor.out.find("Последовательных портов не найдено"), std::string::npos) << doctor.out;
    EXPECT_NE(doctor.out.find("COM9 (задан вручную) -> " + (dir / "dev/ttyACM9") + "  устройства нет"), std::string::npos)
        << doctor.out;
    EXPECT_NE(doctor.out.find("Запомненный порт: (нет, будет COM5)"), std::string::npos) << doctor.out;
}

TEST_F(CtlTest, writes_take_a_backup_first_unless_told_not_to) {
    EmulatorProcess emu({"--register", "COM7", "--serial", "77", "--settings-text", "AutoStart=99\\nX=1\\n", "--log", dir / "emu.jsonl"});
    std::ofstream(dir / "new.txt", std::ios::binary) << "MicLevel=10\r\n";
    const auto write = ctl({"--port", "COM7", "write-settings", dir / "new.txt"});
    ASSERT_EQ(write.exitCode, 0) << write.err;
    EXPECT_NE(write.err.find("Резервная копия настроек: " + (dir / "data/z58/backups/77_")), std::string::npos) << write.err;

    const auto list = ctl({"backups"});
    EXPECT_EQ(list.exitCode, 0);
    ASSERT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1);
    const std::string path = list.out.substr(list.out.rfind('\t') + 1, list.out.size() - list.out.rfind('\t') - 2);
    EXPECT_EQ(list.out.substr(19, 4), "\t77\t") << list.out;
    EXPECT_EQ(readWhole(path), "AutoStart=99\r\nX=1\r\n") << "the controller before the write";

    EXPECT_EQ(ctl({"--port", "COM7", "--no-backup", "write-settings", dir / "new.txt"}).exitCode, 0);
    const auto byHand = ctl({"--port", "COM7", "backup"});
    EXPECT_EQ(byHand.exitCode, 0);
    EXPECT_EQ(readWhole(byHand.out.substr(0, byHand.out.size() - 1)), "MicLevel=10\r\n");
    const std::string after = ctl({"backups"}).out;
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 2) << "--no-backup took none";
}

TEST_F(CtlTest, a_failed_backup_asks_and_no_sends_nothing) {
    EmulatorProcess emu({"--register", "COM7", "--log", dir / "emu.jsonl"});
    std::ofstream(dir / "data") << "a file where the backups folder should be";
    std::ofstream(dir / "new.txt", std::ios::binary) << "MicLevel=10\r\n";
    const auto r = ctl({"--port", "COM7", "write-settings", dir / "new.txt"}, "n\n");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("Резервная копия настроек не сохранена"), std::string::npos) << r.err;
    EXPECT_EQ(readWhole(dir / "emu.jsonl").find("\"type\":201"), std::string::npos);
}

TEST_F(CtlTest, diff_exits_like_diff_and_names_each_change) {
    std::ofstream(dir / "a.txt", std::ios::binary) << "AutoStart=99\r\nMicLevel=10\r\nOld=1\r\n";
    std::ofstream(dir / "b.txt", std::ios::binary) << "AutoStart=0\r\nMicLevel=$A\r\n";
    const auto files = ctl({"diff", dir / "a.txt", dir / "b.txt"});
    EXPECT_EQ(files.exitCode, 1);
    EXPECT_EQ(files.out, "Настройки связи / Чувствительность микрофона (MicLevel): 10 -> $A\n"
                         "Автозапуск / Тип атозапуска (AutoStart): 99 (Запуск по команде) -> 0 (Автозапуск отключен)\n"
                         "(нет в описании) / Old: 1 -> (нет)\n"
                         "Изменений: 3\n");
    EXPECT_EQ(ctl({"diff", dir / "a.txt", dir / "a.txt"}).exitCode, 0);
    EXPECT_EQ(ctl({"diff", dir / "missing.txt", dir / "a.txt"}).exitCode, 2);
    EXPECT_EQ(ctl({"diff"}).exitCode, 2);

    EmulatorProcess emu({"--register", "COM7", "--settings-text", "MicLevel=10\\n"});
    const auto device = ctl({"--port", "COM7", "diff", dir / "b.txt"});
    EXPECT_EQ(device.exitCode, 1);
    EXPECT_NE(device.out.find("(MicLevel): 10 -> $A"), std::string::npos) << device.out;
    std::ofstream(dir / "same.txt", std::ios::binary) << "MicLevel=10\r\n";
    EXPECT_EQ(ctl({"--port", "COM7", "diff", dir / "same.txt"}).exitCode, 0);
}

TEST_F(CtlTest, sheet_writes_the_printable_page) {
    std::ofstream(dir / "a.txt", std::ios::binary) << "AutoStart=99\r\n";
    EXPECT_EQ(ctl({"sheet", dir / "a.txt", dir / "a.html"}).exitCode, 0);
    const std::string page = readWhole(dir / "a.html");
    EXPECT_NE(page.find("<td class=\"sms\">Set,AutoStart=99</td>"), std::string::npos);
    EXPECT_NE(page.find("<div class=\"page-header\">20"), std::string::npos) << "no serial known: the date heads each page";
    EXPECT_EQ(page.find("Серийный номер"), std::string::npos);
    std::filesystem::copy_file(dir / "a.txt", dir / "305419896_2026-12-08_14-05-09.txt");
    EXPECT_EQ(ctl({"sheet", dir / "305419896_2026-12-08_14-05-09.txt", dir / "backup.html"}).exitCode, 0);
    EXPECT_NE(readWhole(dir / "backup.html").find("<div class=\"page-header\">Серийный номер 305419896, 20"), std::string::npos)
        << "a backup's name gives the serial";
    EXPECT_EQ(ctl({"sheet", dir / "missing.txt", dir / "b.html"}).exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "b.html"));
    EXPECT_EQ(ctl({"sheet", dir / "a.txt"}).exitCode, 2);
}

TEST_F(CtlTest, a_write_the_controller_does_not_keep_exits_1_with_each_parameter) {
    std::ofstream(dir / "w.txt", std::ios::binary) << "MicLevel=12\r\nAutoStart=99\r\n";
    {
        EmulatorProcess emu({"--register", "COM7", "--drop-key", "AutoStart"});
        const auto r = ctl({"--port", "COM7", "--no-backup", "write-settings", dir / "w.txt"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("(AutoStart): 99 → "), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Настройки записаны."), std::string::npos) << "no success claimed";
    }
    {
        EmulatorProcess emu({"--register", "COM7", "--limit", "MicLevel=8"});
        const auto r = ctl({"--port", "COM7", "--no-backup", "write-settings", dir / "w.txt"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("(MicLevel): 12 → 8"), std::string::npos) << r.err;
    }
    EmulatorProcess emu({"--register", "COM7"});
    const auto ok = ctl({"--port", "COM7", "--no-backup", "write-settings", dir / "w.txt"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_NE(ok.err.find("Настройки записаны."), std::string::npos);
}

TEST_F(CtlTest, another_device_type_is_flashed_only_with_other_type) {
    EmulatorProcess emu({"--register", "COM7", "--type", "Z99_r1", "--version", "001.050", "--log", dir / "emu.jsonl"});
    const auto refused = ctl({"--port", "COM7", "update-firmware", "--yes"});
    EXPECT_EQ(refused.exitCode, 3) << "--yes does not answer it";
    EXPECT_NE(refused.err.find("«Z99_r1»"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("«QV_r2»"), std::string::npos);
    EXPECT_EQ(readWhole(dir / "emu.jsonl").find("{\"type\":195,"), std::string::npos) << "no begin request";
    const auto asked = ctl({"--port", "COM7", "update-firmware", "--other-type", "--yes", "--no-backup"});
    EXPECT_EQ(asked.exitCode, 0) << asked.err;
    EXPECT_NE(readWhole(dir / "emu.jsonl").find("{\"type\":195,"), std::string::npos);
}

TEST_F(CtlTest, report_saves_the_page_with_the_owner_masked_and_goes_on_without_a_silent_controller) {
    {
        EmulatorProcess emu({"--register", "COM7", "--settings-text", "PinCod=4821\\nUserNumber1=+79161234567\\n"});
        const auto r = ctl({"--port", "COM7", "report", dir / "отчёт.html"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("Отчёт для поддержки сохранён: "), std::string::npos);
        const std::string page = readWhole(dir / "отчёт.html");
        EXPECT_NE(page.find("<td>305419896</td>"), std::string::npos);
        EXPECT_NE(page.find("<td>ReqSettings</td><td>Settings</td>"), std::string::npos) << "this run's exchanges";
        EXPECT_EQ(page.find("4821"), std::string::npos);
        EXPECT_EQ(page.find("1234567"), std::string::npos);
    }
    EmulatorProcess silent({"--register", "COM7", "--silent"});
    const auto r = ctl({"--port", "COM7", "report", dir / "silent.html"});
    EXPECT_EQ(r.exitCode, 0) << "the report is made all the same";
    EXPECT_NE(readWhole(dir / "silent.html").find("Контроллер не ответил: "), std::string::npos);
    EXPECT_EQ(ctl({"report", dir / "no folder/r.html"}).exitCode, 1);
    EXPECT_EQ(ctl({"report"}).exitCode, 2);
}

TEST_F(CtlTest, keep_and_keep_owner_leave_the_controllers_values_and_diff_marks_them) {
    std::ofstream(dir / "other.txt", std::ios::binary) << "PinCod=1111\r\nUserNumber1=+70000000000\r\nMicLevel=12\r\n";
    EmulatorProcess emu({"--register", "COM7", "--log", dir / "emu.jsonl", "--settings-text",
                         "PinCod=4821\\nUserNumber1=+79161234567\\nMicLevel=10\\n"});
    const auto diff = ctl({"--port", "COM7", "diff", dir / "other.txt", "--keep-owner"});
    EXPECT_EQ(diff.exitCode, 1) << diff.err;
    EXPECT_NE(diff.out.find("(MicLevel): 10 -> 12"), std::string::npos) << diff.out;
    EXPECT_NE(diff.out.find("(PinCod): значение этого устройства сохранено"), std::string::npos) << diff.out;
    EXPECT_EQ(diff.out.find("1111"), std::string::npos) << "a kept value is not shown as a change";

    const auto keep = ctl({"--port", "COM7", "--no-backup", "write-settings", dir / "other.txt", "--keep", "MicLevel,PinCod",
                           "--write-owner"});
    EXPECT_EQ(keep.exitCode, 0) << keep.err;
    EXPECT_NE(readWhole(dir / "emu.jsonl").find("\"text\":\"PinCod=4821\\u000aUserNumber1=+70000000000\\u000aMicLevel=10\\u000a\""),
              std::string::npos)
        << readWhole(dir / "emu.jsonl");
    EXPECT_NE(keep.err.find("(MicLevel): значение этого устройства сохранено"), std::string::npos) << keep.err;

    // The controller's phone number is the file's now: --keep-owner keeps that.
    const auto owner = ctl({"--port", "COM7", "write-settings", dir / "other.txt", "--keep-owner"});
    EXPECT_EQ(owner.exitCode, 0) << owner.err;
    EXPECT_NE(readWhole(dir / "emu.jsonl").find("\"text\":\"PinCod=4821\\u000aUserNumber1=+70000000000\\u000aMicLevel=12\\u000a\""),
              std::string::npos);
    EXPECT_EQ(ctl({"--port", "COM7", "write-settings", dir / "other.txt", "--keep", "NoSuchKey"}).exitCode, 2);
}

TEST_F(CtlTest, diff_previews_the_owner_values_write_settings_keeps) {
    EmulatorProcess emu({"--register", "COM7", "--settings-text", "PinCod=4821\\nUserNumber1=+79161234567\\nMicLevel=10\\n"});
    const std::string file = "PinCod=1111\r\nUserNumber1=+70000000000\r\nMicLevel=12\r\n";
    for (const char* name : {"other car.txt", "305419896_2026-12-08_14-05-09.txt", "305419897_2026-12-08_14-05-09.txt"})
        std::ofstream(dir / name, std::ios::binary) << file;
    const std::string pinKept = "(PinCod): значение этого устройства сохранено\n";
    const std::string numberKept = "(UserNumber1): значение этого устройства сохранено\n";
    const std::string pinWritten = "(PinCod): 4821 -> 1111\n", numberWritten = "(UserNumber1): +79161234567 -> +70000000000\n";

    // Another car's file, or another controller's backup: only MicLevel would be written.
    for (const char* name : {"other car.txt", "305419897_2026-12-08_14-05-09.txt"}) {
        const auto kept = ctl({"--port", "COM7", "diff", dir / name});
        EXPECT_EQ(kept.exitCode, 1) << kept.err;
        EXPECT_NE(kept.out.find("(MicLevel): 10 -> 12\nИзменений: 1\n"), std::string::npos) << name << kept.out;
        EXPECT_NE(kept.out.find(pinKept), std::string::npos) << name << kept.out;
        EXPECT_NE(kept.out.find(numberKept), std::string::npos) << name;
        EXPECT_EQ(kept.out.find("1111"), std::string::npos) << name;
        EXPECT_EQ(kept.out.find("+70000000000"), std::string::npos) << name;
    }
    // This controller's own backup, or --write-owner: the owner values are changes like any other.
    for (const std::vector<std::string>& args : {std::vector<std::string>{dir / "305419896_2026-12-08_14-05-09.txt"},
                                                 std::vector<std::string>{dir / "other car.txt", "--write-owner"}}) {
        std::vector<std::string> command{"--port", "COM7", "diff"};
        command.insert(command.end(), args.begin(), args.end());
        const auto written = ctl(command);
        EXPECT_EQ(written.exitCode, 1) << written.err;
        EXPECT_NE(written.out.find(pinWritten), std::string::npos) << args[0] << written.out;
        EXPECT_NE(written.out.find(numberWritten), std::string::npos) << args[0];
        EXPECT_NE(written.out.find("Изменений: 3\n"), std::string::npos) << args[0];
        EXPECT_EQ(written.out.find("сохранено"), std::string::npos) << args[0];
        EXPECT_EQ(written.out.find("305419896"), std::string::npos) << "the serial read is not diff's output";
    }
    const auto ownKept = ctl({"--port", "COM7", "diff", dir / "305419896_2026-12-08_14-05-09.txt", "--keep-owner"});
    EXPECT_NE(ownKept.out.find(pinKept), std::string::npos) << ownKept.out;
    EXPECT_EQ(ctl({"--port", "COM7", "diff", dir / "other car.txt", "--keep-owner", "--write-owner"}).exitCode, 2);
    EXPECT_EQ(ctl({"diff", dir / "other car.txt", dir / "305419896_2026-12-08_14-05-09.txt", "--write-owner"}).exitCode, 2);

    // After the write the preview of the same write is empty; the owner values only it kept still show with --write-owner.
    ASSERT_EQ(ctl({"--port", "COM7", "--no-backup", "write-settings", dir / "other car.txt"}).exitCode, 0);
    const auto same = ctl({"--port", "COM7", "diff", dir / "other car.txt"});
    EXPECT_EQ(same.exitCode, 0) << same.out;
    EXPECT_NE(same.out.find("Изменений: 0\n"), std::string::npos) << same.out;
    EXPECT_NE(same.out.find(pinKept), std::string::npos) << "kept rows are still listed";
    EXPECT_EQ(ctl({"--port", "COM7", "diff", dir / "other car.txt", "--write-owner"}).exitCode, 1);
    ASSERT_EQ(ctl({"--port", "COM7", "--no-backup", "write-settings", dir / "other car.txt", "--write-owner"}).exitCode, 0);
    EXPECT_EQ(ctl({"--port", "COM7", "diff", dir / "other car.txt", "--write-owner"}).exitCode, 0);
}

TEST_F(CtlTest, a_file_of_another_car_keeps_the_customers_pin_and_numbers_unless_told) {
    const std::string customer = "PinCod=4821\\nUserNumber1=+79161234567\\nMicLevel=10\\n";
    const std::string file = "PinCod=1111\r\nUserNumber1=+70000000000\r\nMicLevel=12\r\n";
    std::ofstream(dir / "other car.txt", std::ios::binary) << file;
    auto sent = [&](const std::string& text) { return "\"text\":\"" + text + "\""; };
    {
        EmulatorProcess emu({"--register", "COM7", "--log", dir / "emu.jsonl", "--settings-text", customer});
        for (const char* backup : {"--no-backup", "--yes"}) { // without a backup the controller is read all the same
            const auto r = ctl({"--port", "COM7", backup, "write-settings", dir / "other car.txt"});
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_NE(r.err.find("(PinCod): значение этого устройства сохранено"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("(UserNumber1): значение этого устройства сохранено"), std::string::npos) << r.err;
            EXPECT_NE(readWhole(dir / "emu.jsonl").find(sent("PinCod=4821\\u000aUserNumber1=+79161234567\\u000aMicLevel=12\\u000a")),
                      std::string::npos)
                << backup << readWhole(dir / "emu.jsonl");
            EXPECT_EQ(readWhole(dir / "emu.jsonl").find("1111"), std::string::npos) << backup;
        }

        const auto both = ctl({"--port", "COM7", "write-settings", dir / "other car.txt", "--keep-owner", "--write-owner"});
        EXPECT_EQ(both.exitCode, 2);
        EXPECT_EQ(readWhole(dir / "emu.jsonl").find("1111"), std::string::npos) << "nothing sent";

        const auto asked = ctl({"--port", "COM7", "--no-backup", "write-settings", dir / "other car.txt", "--write-owner"});
        EXPECT_EQ(asked.exitCode, 0) << asked.err;
        EXPECT_NE(readWhole(dir / "emu.jsonl").find(sent("PinCod=1111\\u000aUserNumber1=+70000000000\\u000aMicLevel=12\\u000a")),
                  std::string::npos);
        EXPECT_EQ(asked.err.find("сохранено"), std::string::npos) << asked.err;
    }
    // This controller's own backup (its serial in the name) puts its owner values back; another's does not.
    EmulatorProcess emu({"--register", "COM7", "--log", dir / "own.jsonl", "--settings-text", customer});
    std::filesystem::copy_file(dir / "other car.txt", dir / "305419896_2026-12-08_14-05-09.txt");
    std::filesystem::copy_file(dir / "other car.txt", dir / "305419897_2026-12-08_14-05-09.txt");
    const auto another = ctl({"--port", "COM7", "--no-backup", "write-settings", dir / "305419897_2026-12-08_14-05-09.txt"});
    EXPECT_EQ(another.exitCode, 0) << another.err;
    EXPECT_EQ(readWhole(dir / "own.jsonl").find("1111"), std::string::npos);
    const auto own = ctl({"--port", "COM7", "--no-backup", "write-settings", dir / "305419896_2026-12-08_14-05-09.txt"});
    EXPECT_EQ(own.exitCode, 0) << own.err;
    EXPECT_NE(readWhole(dir / "own.jsonl").find(sent("PinCod=1111\\u000aUserNumber1=+70000000000\\u000aMicLevel=12\\u000a")),
              std::string::npos)
        << readWhole(dir / "own.jsonl");
}
