// The port list on POSIX: ports found in a fake sysfs, COMn names given and kept
// in the alias folder, and the reasons a port cannot be used.
#include "ChildProcess.h"
#include "Device.h"
#include "EmulatorProcess.h"
#include "FakeSysfs.h"
#include "PortList.h"
#include "PortProblem.h"
#include "PortSettingStore.h"
#include "Pty.h"
#include "TempDir.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct PortListTest : ::testing::Test, IsolatedSetup {
    FakeSysfs tree{dir.path / "sys", dir.path / "dev"};
    fs::path ports = dir.path / "ports";

    std::string link(const std::string& name) {
        std::error_code ec;
        return fs::read_symlink(ports / name, ec).string();
    }
    std::string dev(const std::string& tty) { return (dir.path / "dev" / tty).string(); }
    static const PresentPort* byDevice(const std::vector<PresentPort>& list, const std::string& device) {
        for (const auto& p : list)
            if (p.device == device)
                return &p;
        return nullptr;
    }
};

TEST_F(PortListTest, finds_usb_and_real_uarts_and_skips_the_rest) {
    tree.addUsb("ttyACM0", "1d50", "6018", "Z58-000123", "Z58 GSM controller");
    tree.addUsb("ttyUSB0", "0403", "6001", "", "");
    tree.addUart("ttyS0", "4");  // a 16550A that is there
    tree.addUart("ttyS1", "0");  // a placeholder the kernel keeps
    tree.addVirtual("tty1");
    tree.addVirtual("ttyS5");    // no device link

    const auto list = listPresentPorts();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].device, dev("ttyACM0"));
    EXPECT_TRUE(list[0].usb);
    EXPECT_EQ(usbIds(list[0]), "1d50:6018");
    EXPECT_EQ(list[0].serial, "Z58-000123");
    EXPECT_EQ(list[0].description, "USB: Z58 GSM controller");
    EXPECT_EQ(list[0].identity, "usb:1d50:6018:Z58-000123");

    EXPECT_EQ(list[1].device, dev("ttyUSB0")) << "a converter's USB device is one folder further up";
    EXPECT_EQ(usbIds(list[1]), "0403:6001");
    EXPECT_EQ(list[1].description, "USB: Maker") << "no product string: the maker";
    EXPECT_EQ(list[1].identity, "path:" + dev("ttyUSB0")) << "no serial number: the path is all there is";

    EXPECT_EQ(list[2].device, dev("ttyS0"));
    EXPECT_FALSE(list[2].usb);
    EXPECT_EQ(usbIds(list[2]), "-");
}

TEST_F(PortListTest, by_id_link_is_the_identity_when_udev_made_one) {
    tree.addUsb("ttyACM3", "1d50", "6018", "", "Z58");
    tree.addById("usb-Maker_Z58-if00", "ttyACM3");
    const auto list = listPresentPorts();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].identity, "by-id:usb-Maker_Z58-if00");
}

TEST_F(PortListTest, names_are_lowest_free_kept_across_replug_and_never_reused) {
    fs::create_directories(ports);
    fs::create_symlink("/dev/null", ports / "COM3"); // the user's own alias
    tree.addUsb("ttyACM0", "1d50", "6018", "A1", "Z58");
    tree.addUsb("ttyACM1", "1d50", "6018", "B2", "Z58"); // an identical controller, its own serial

    auto list = refreshPortNames();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "COM2");
    EXPECT_EQ(list[1].name, "COM4") << "COM3 is the user's";
    EXPECT_EQ(link("COM2"), dev("ttyACM0"));
    EXPECT_EQ(link("COM4"), dev("ttyACM1"));
    EXPECT_EQ(link("COM3"), "/dev/null");

    // Both unplugged: their links go, their numbers stay theirs.
    tree.unplug("ttyACM0");
    tree.unplug("ttyACM1");
    EXPECT_TRUE(refreshPortNames().empty());
    EXPECT_FALSE(fs::is_symlink(ports / "COM2"));
    EXPECT_FALSE(fs::is_symlink(ports / "COM4"));
    EXPECT_EQ(link("COM3"), "/dev/null");

    // A new device takes the next free number, not a remembered one.
    tree.addUsb("ttyACM0", "2341", "0043", "NEW", "Other");
    list = refreshPortNames();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "COM5");

    // The second controller comes back on another socket and tty: still COM4.
    tree.addUsb("ttyACM7", "1d50", "6018", "B2", "Z58");
    list = refreshPortNames();
    const PresentPort* back = byDevice(list, dev("ttyACM7"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->name, "COM4");
    EXPECT_EQ(link("COM4"), dev("ttyACM7"));
    EXPECT_EQ(link("COM5"), dev("ttyACM0"));

    // A restart reads the same folder: nothing changes.
    const auto again = refreshPortNames();
    ASSERT_EQ(again.size(), list.size());
    for (size_t i = 0; i < again.size(); ++i)
        EXPECT_EQ(again[i].name, list[i].name);
}

TEST_F(PortListTest, hand_made_alias_for_a_present_device_is_its_name) {
    tree.addUsb("ttyACM0", "1d50", "6018", "A1", "Z58");
    fs::create_directories(ports);
    fs::create_symlink(dev("ttyACM0"), ports / "COM9");
    const auto list = refreshPortNames();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "COM9");
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports / "COM2"))) << "no second name for the same device";
}

TEST_F(PortListTest, remembered_name_taken_over_by_hand_goes_to_the_user) {
    tree.addUsb("ttyACM0", "1d50", "6018", "A1", "Z58");
    ASSERT_EQ(refreshPortNames()[0].name, "COM2");
    tree.unplug("ttyACM0");
    refreshPortNames();
    fs::create_symlink("/dev/zero", ports / "COM2"); // the user reuses the free-looking name
    tree.addUsb("ttyACM0", "1d50", "6018", "A1", "Z58");
    const auto list = refreshPortNames();
    EXPECT_EQ(link("COM2"), "/dev/zero") << "never overwritten";
    EXPECT_EQ(list[0].name, "COM3");
}

TEST_F(PortListTest, two_controllers_without_serial_numbers_keep_names_by_path) {
    tree.addUsb("ttyACM0", "1d50", "6018", "", "Z58");
    tree.addUsb("ttyACM1", "1d50", "6018", "", "Z58");
    const auto list = refreshPortNames();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "COM2");
    EXPECT_EQ(list[1].name, "COM3");
    EXPECT_EQ(refreshPortNames()[1].name, "COM3");
}

TEST_F(PortListTest, find_port_finds_the_emulator_behind_a_usb_tty_without_any_alias) {
    EmulatorProcess emu({"--serial", "77"});
    tree.addUsb("ttyACM0", "1d50", "6018", "Z1", "Z58", emu.path());
    Device d("COM5");
    std::string report;
    ASSERT_TRUE(d.FindDevicePort(report));
    EXPECT_EQ(report, "Порт:\tCOM2\nТип:\tQV_r2\nВерсия:\t001.083\nНомер:\t77\n");
    EXPECT_EQ(d.portName(), "COM2");
    EXPECT_EQ(link("COM2"), dev("ttyACM0"));
}

// Runs f in a child process and returns what it wrote.
template <class F>
std::string inChild(F f) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        const std::string text = f();
        (void)!::write(out[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return text;
}

TEST_F(PortListTest, problem_names_the_program_that_holds_the_port) {
    PtyPair pty;
    fs::create_directories(ports);
    fs::create_symlink(pty.path, ports / "COM6");
    EXPECT_EQ(portProblem("COM6"), "") << "free";
    EXPECT_EQ(portProblem("COM44"), "") << "no such port: nothing to say";

    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t holder = child_process::forkTied();
    if (holder == 0) {
        const int fd = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
        ::flock(fd, LOCK_EX);
        (void)!::write(ready[1], "x", 1);
        char c;
        (void)!::read(done[0], &c, 1);
        ::_exit(0);
    }
    child_process::Guard holding(holder); // it waits for done, and holds its write end itself
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    const std::string why = portProblem("COM6");
    (void)!::write(done[1], "x", 1);
    ::waitpid(holding.release(), nullptr, 0);
    EXPECT_NE(why.find("занят другой программой"), std::string::npos) << why;
    EXPECT_NE(why.find("(PID " + std::to_string(holder) + ")"), std::string::npos) << why;
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        ::close(fd);
}

TEST_F(PortListTest, problem_says_which_group_to_join_when_access_is_denied) {
    const fs::path node = dir.path / "node";
    { std::ofstream(node) << ""; }
    const bool root = ::geteuid() == 0;
    // Root opens anything: as root the check runs as nobody in a child.
    ::chmod(node.c_str(), root ? 0660 : 0);
    ::chmod(dir.path.c_str(), 0755);
    fs::create_directories(ports);
    ::chmod(ports.c_str(), 0755);
    fs::create_symlink(node, ports / "COM8");
    const std::string why = inChild([&] {
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return std::string("cannot drop root");
        return portProblem("COM8");
    });
    EXPECT_NE(why.find("Нет доступа к " + node.string() + ": порт принадлежит группе "), std::string::npos) << why;
    EXPECT_NE(why.find("sudo usermod -aG "), std::string::npos) << why;
}

TEST_F(PortListTest, problem_for_an_alias_whose_device_is_gone) {
    fs::create_directories(ports);
    fs::create_symlink(dir.path / "dev/ttyACM9", ports / "COM10");
    EXPECT_NE(portProblem("COM10").find("такого устройства нет"), std::string::npos);
}

TEST_F(PortListTest, doctor_reports_ports_modem_manager_and_the_remembered_port) {
    tree.addUsb("ttyACM0", "1d50", "6018", "A1", "Z58 GSM controller");
    FakeSysfs::write(dir.path / "proc/4242/comm", "ModemManager");
    ScopedEnv proc("Z58_PROC_ROOT", dir / "proc");
    ASSERT_TRUE(portSettingStore().write("COM2"));
    const auto lines = portDoctorReport();
    std::string all;
    for (const auto& l : lines)
        all += l + "\n";
    EXPECT_NE(all.find("COM2  " + dev("ttyACM0") + "  1d50:6018  A1  USB: Z58 GSM controller"), std::string::npos) << all;
    EXPECT_NE(all.find("опознаётся как usb:1d50:6018:A1"), std::string::npos) << all;
    EXPECT_NE(all.find("ModemManager работает"), std::string::npos) << all;
    EXPECT_NE(all.find("Запомненный порт: COM2"), std::string::npos) << all;
    EXPECT_NE(all.find(portSettingStore().location()), std::string::npos) << all;
}

} // namespace
