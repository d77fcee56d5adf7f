// The Win32 serial path, port probe and registry setting, run under Wine by
// ./run windows with emulated controllers mapped to COM ports:
//   Z58_WIN_PORT         a controller answering normally (e.g. COM7)
//   Z58_WIN_SILENT_PORT  a controller that never answers (e.g. COM8)
#include "Device.h"
#include "PortList.h"
#include "PortProblem.h"
#include "PortSearchJob.h"
#include "PortSettingStore.h"
#include "RecordingHost.h"
#include "Runner.h"
#include "port_setting_win32.h"
#include "Vcom_port.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>

using SteadyClock = std::chrono::steady_clock;

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool underWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

long long msSince(SteadyClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - t).count();
}

struct Win32Test : ::testing::Test {
    std::string port = env("Z58_WIN_PORT"), silent = env("Z58_WIN_SILENT_PORT");
    void SetUp() override {
        if (port.empty() || silent.empty())
            GTEST_SKIP() << "needs the emulated controllers that ./run windows maps to COM ports";
    }
};

// A store on a private key, so tests never touch the real setting.
struct PrivateKey {
    std::string subKey = "SOFTWARE\\KM\\Z58_TEST_" + std::to_string(std::random_device{}());
    ~PrivateKey() {
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, subKey.c_str());
        ::RegDeleteKeyA(HKEY_CURRENT_USER, subKey.c_str());
    }
    LSTATUS open(HKEY root, HKEY* key) const {
        return ::RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key, nullptr);
    }
    std::string rawRead(HKEY root) const {
        char v[64] = {};
        DWORD size = sizeof v - 1;
        if (::RegGetValueA(root, subKey.c_str(), "Port", RRF_RT_REG_SZ, nullptr, v, &size) != ERROR_SUCCESS)
            return "<none>";
        return v;
    }
};

} // namespace

TEST_F(Win32Test, every_operation_succeeds) {
    Device d(port);
    std::uint32_t serial = 0;
    EXPECT_EQ(d.GetSerialNumber(serial), 1);
    EXPECT_EQ(serial, 305419896u);
    std::string text;
    EXPECT_EQ(d.GetVersionInfo(text), 1);
    EXPECT_EQ(text, "QV_r2\n001.083\nNov 11 2019");
    EXPECT_EQ(d.WriteSettings("MicLevel=10\n"), 1);
    EXPECT_EQ(d.ReadSettings(text), 1);
    EXPECT_EQ(text, "MicLevel=10\n");
    EXPECT_EQ(d.SetSerialNumber(305419896), 1);
    EXPECT_EQ(d.StartCalibration(1, 2), 1);
    unsigned char diag[24] = {};
    EXPECT_EQ(d.ReadDiagnostics(diag), 1);
    EXPECT_EQ(diag[0], 0xA0);
    EXPECT_EQ(d.BeginFirmwareUpdate(), 1);
    const unsigned char block[1024] = {};
    EXPECT_EQ(d.WriteDataBlock(block, 0, sizeof block), 1) << "a 1030-byte payload paced through the 64-byte window";
    EXPECT_EQ(d.CheckDataCrc(0, 1016), 1);
    EXPECT_EQ(d.BeginSoundUpdate(), 1);
    EXPECT_EQ(d.RestartDevice(), 1);
}

TEST_F(Win32Test, silent_controller_fails_after_four_seconds) {
    Device d(silent);
    std::uint32_t serial = 7;
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(d.GetSerialNumber(serial), -2);
    EXPECT_GE(msSince(t0), 3900);
    EXPECT_LT(msSince(t0), 6000);
    EXPECT_EQ(serial, 7u);
}

TEST_F(Win32Test, silent_wait_sleeps_instead_of_spinning) {
    Device d(silent);
    std::uint32_t serial = 0;
    FILETIME created, exited, kernel0, user0, kernel1, user1;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel0, &user0);
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(d.GetSerialNumber(serial), -2);
    const double wall = static_cast<double>(msSince(t0)) / 1000.0;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel1, &user1);
    auto seconds = [](const FILETIME& a, const FILETIME& b) {
        const auto v = [](const FILETIME& f) { return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
        return static_cast<double>(v(b) - v(a)) / 1e7;
    };
    const double cpu = seconds(kernel0, kernel1) + seconds(user0, user1);
    EXPECT_LT(cpu, 0.5 * wall) << "cpu " << cpu << " s of " << wall << " s";
}

TEST_F(Win32Test, stray_bytes_before_an_exchange_are_discarded) {
    const std::string stray = env("Z58_WIN_STRAY_PORT");
    if (stray.empty())
        GTEST_SKIP() << "needs a controller that sends stray bytes after each reply";
    Device d(stray);
    std::uint32_t serial = 0;
    EXPECT_EQ(d.GetSerialNumber(serial), 1);
    ::Sleep(50);
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(d.BeginFirmwareUpdate(), 1);
    EXPECT_LT(msSince(t0), 2000);
}

TEST_F(Win32Test, read_on_a_silent_line_waits_count_plus_one_second) {
    VCOM_Port p(silent.c_str());
    ASSERT_TRUE(p.open());
    char buf[100];
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(p.read(buf, 100), 0);
    EXPECT_GE(msSince(t0), 1050);
    EXPECT_LT(msSince(t0), 2000);
}

TEST_F(Win32Test, queue_counts) {
    VCOM_Port p(port.c_str());
    EXPECT_EQ(p.outputRoom(), 0) << "closed";
    ASSERT_TRUE(p.open());
    EXPECT_EQ(p.outputRoom(), 64);
    EXPECT_EQ(p.inputCount(), 0);
}

TEST_F(Win32Test, second_open_of_a_held_port_fails) {
    if (underWine())
        GTEST_SKIP() << "Wine does not refuse a second exclusive open of a COM port";
    VCOM_Port a(port.c_str()), b(port.c_str());
    ASSERT_TRUE(a.open());
    EXPECT_FALSE(b.open());
}

TEST_F(Win32Test, missing_port_fails_silently) {
    VCOM_Port p("COM250");
    EXPECT_FALSE(p.open());
    EXPECT_FALSE(p.isOpen());
}

TEST_F(Win32Test, port_search_finds_the_controller_and_remembers_it) {
    // As the programs do: the search job on a runner, then the port it found remembered.
    RecordingHost host;
    jobs::Runner runner;
    runner.setDevice(std::make_shared<Device>("COM5"));
    auto search = std::make_shared<jobs::PortSearchJob>(host);
    EXPECT_EQ(runner.run(search), jobs::Outcome::Done);
    EXPECT_EQ(search->foundPort(), port);
    EXPECT_EQ(runner.device()->PortName(), port);
    ASSERT_TRUE(portSettingStore().write(search->foundPort()));
    EXPECT_EQ(portSettingStore().read(), port);
    char v[64] = {};
    DWORD size = sizeof v - 1;
    const auto hklm = ::RegGetValueA(HKEY_LOCAL_MACHINE, RegistryPortSettingStore::kSubKey, "Port", RRF_RT_REG_SZ,
                                     nullptr, v, &size);
    if (hklm == ERROR_SUCCESS) {
        EXPECT_EQ(std::string(v), port) << "written to the machine hive when it is writable";
    }
}

TEST(registry_port_setting, missing_value_reads_empty_and_round_trips) {
    PrivateKey key;
    RegistryPortSettingStore store([&](HKEY root, HKEY* k) { return key.open(root, k); });
    EXPECT_EQ(store.read(), "");
    EXPECT_TRUE(store.write("COM12"));
    EXPECT_EQ(store.read(), "COM12");
    EXPECT_EQ(key.rawRead(HKEY_LOCAL_MACHINE), "COM12");
}

TEST(registry_port_setting, denied_machine_hive_falls_back_to_the_user_hive) {
    PrivateKey key;
    RegistryPortSettingStore store([&](HKEY root, HKEY* k) {
        return root == HKEY_LOCAL_MACHINE ? static_cast<LSTATUS>(ERROR_ACCESS_DENIED) : key.open(root, k);
    });
    EXPECT_TRUE(store.write("COM9"));
    EXPECT_EQ(store.read(), "COM9");
    EXPECT_EQ(key.rawRead(HKEY_CURRENT_USER), "COM9");
    EXPECT_EQ(key.rawRead(HKEY_LOCAL_MACHINE), "<none>");
}

TEST(registry_port_setting, machine_value_wins_over_user_value) {
    PrivateKey key;
    RegistryPortSettingStore store([&](HKEY root, HKEY* k) { return key.open(root, k); });
    HKEY user;
    ASSERT_EQ(key.open(HKEY_CURRENT_USER, &user), ERROR_SUCCESS);
    ::RegSetValueExA(user, "Port", 0, REG_SZ, reinterpret_cast<const BYTE*>("COM3"), 5);
    ::RegCloseKey(user);
    EXPECT_EQ(store.read(), "COM3") << "user value when the machine has none";
    ASSERT_TRUE(store.write("COM4"));
    EXPECT_EQ(store.read(), "COM4");
}

// The serial drivers register their ports under DEVICEMAP\SERIALCOMM; a value
// made there stands for a driver's port.
TEST(win32_port_list, ports_come_from_the_serial_drivers_registry) {
    HKEY key;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char device[] = "\\Device\\Z58Test77";
    ASSERT_EQ(::RegSetValueExA(key, device, 0, REG_SZ, reinterpret_cast<const BYTE*>("COM77"), 6), ERROR_SUCCESS);
    const auto ports = listPresentPorts();
    ::RegDeleteValueA(key, device);
    ::RegCloseKey(key);
    const PresentPort* found = nullptr;
    int last = 0;
    for (const auto& p : ports) {
        const int n = std::atoi(p.name.c_str() + 3);
        EXPECT_GT(n, last) << "in COM number order";
        last = n;
        if (p.name == "COM77")
            found = &p;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->device, device);
    EXPECT_FALSE(found->usb);
    EXPECT_EQ(usbIds(*found), "-");
    EXPECT_EQ(found->identity, std::string("path:") + device);
    EXPECT_EQ(refreshPortNames().size(), ports.size() - 1) << "Windows names its ports: nothing assigned";
}

TEST(win32_port_list, a_missing_port_has_no_problem_to_explain) {
    EXPECT_EQ(portProblem("COM250"), "");
}
