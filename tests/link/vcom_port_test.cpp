#include "Pty.h"
#include "TempDir.h"
#include "Vcom_port.h"
#include "VcomStreams.h"

#include <chrono>
#include <ctime>
#include <thread>
#include <filesystem>
#include <gtest/gtest.h>

using Clock = std::chrono::steady_clock;

namespace {
long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A backend that opens but fails a chosen configuration step.
struct FailingBackend : SerialBackend {
    int failAt; // 1 read settings, 2 apply settings, 3 time-outs
    bool open_ = false;
    int opens = 0;
    explicit FailingBackend(int step) : failAt(step) {}
    bool open(const std::string&) override { ++opens; return open_ = true; }
    bool isOpen() const override { return open_; }
    void close() override { open_ = false; }
    bool readSettings() override { return failAt != 1; }
    bool applySettings(const SerialLineSettings&) override { return failAt != 2; }
    bool applyTimeouts(const SerialTimeouts&) override { return failAt != 3; }
    bool queueCounts(int& i, int& o) override { i = o = 0; return true; }
    int write(const void*, int) override { return 0; }
    int read(void*, int) override { return 0; }
    bool waitForInput(int, int) override { return false; }
    void waitForOutput(int) override {}
};
} // namespace

TEST(vcom_port, opens_exclusively_and_closes_idempotently) {
    PtyPair pty;
    ASSERT_FALSE(pty.path.empty());
    VCOM_Port port(pty.path.c_str());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.outputRoom(), 0);
    EXPECT_EQ(port.inputCount(), 0);
    EXPECT_EQ(port.outputCount(), 0);
    ASSERT_TRUE(port.open());
    EXPECT_TRUE(port.open()) << "already open";

    VCOM_Port second(pty.path.c_str());
    EXPECT_FALSE(second.open()) << "a held port must refuse a second open, also for root";
    EXPECT_FALSE(second.isOpen());

    port.close();
    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(second.open()) << "free again after close";
}

TEST(vcom_port, queue_counts_and_room) {
    PtyPair pty;
    VCOM_Port port(pty.path.c_str());
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.outputRoom(), 64);
    pty.send("hello");
    for (int i = 0; i < 100 && port.inputCount() < 5; ++i)
        usleep(1000);
    EXPECT_EQ(port.inputCount(), 5);
    char buf[5];
    EXPECT_EQ(port.read(buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(port.write("ping", 4), 4);
    EXPECT_EQ(pty.receive(4), "ping");
}

TEST(vcom_port, read_times_out_after_count_plus_one_second) {
    PtyPair pty;
    VCOM_Port port(pty.path.c_str());
    ASSERT_TRUE(port.open());
    char buf[200];
    auto t0 = Clock::now();
    EXPECT_EQ(port.read(buf, 200), 0);
    const auto silent = msSince(t0);
    EXPECT_GE(silent, 1150);
    EXPECT_LT(silent, 1700);

    pty.send("abc");
    t0 = Clock::now();
    EXPECT_EQ(port.read(buf, 10), 3) << "partial read returns the smaller count";
    EXPECT_GE(msSince(t0), 950);
}

TEST(vcom_port, streams_report_short_transfers) {
    PtyPair pty;
    VCOM_Port port(pty.path.c_str());
    VCOMInputStream in(&port);
    VCOMOutputStream out(&port);
    char buf[4];
    EXPECT_EQ(in.read(buf, 4), -1);
    EXPECT_EQ(out.write("x", 1), -1);
    EXPECT_EQ(out.room(), 0);
    ASSERT_TRUE(in.open());
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(out.room(), 64);
    pty.send("ab");
    EXPECT_EQ(in.read(buf, 4), -2);
    EXPECT_EQ(out.write("xyz", 3), 3);
}

TEST(vcom_port, set_name_takes_effect_on_next_open) {
    PtyPair a, b;
    VCOM_Port port(a.path.c_str());
    ASSERT_TRUE(port.open());
    port.setName(b.path.c_str());
    EXPECT_EQ(port.write("1", 1), 1);
    EXPECT_EQ(a.receive(1), "1");
    port.close();
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.write("2", 1), 1);
    EXPECT_EQ(b.receive(1), "2");
}

TEST(vcom_port, missing_port_fails_silently) {
    VCOM_Port port("/dev/z58-no-such-port");
    EXPECT_FALSE(port.open());
    EXPECT_FALSE(port.isOpen());
    VCOM_Port empty("");
    EXPECT_FALSE(empty.open());
    TempDir dir;
    ScopedEnv env("Z58_PORT_DIR", dir.str());
    VCOM_Port alias("COM9");
    EXPECT_FALSE(alias.open());
    EXPECT_FALSE(port.openProblem() || empty.openProblem() || alias.openProblem()) << "nothing to tell: no such port";
}

TEST(vcom_port, com_name_resolves_through_alias_folder) {
    PtyPair pty;
    TempDir dir;
    ScopedEnv env("Z58_PORT_DIR", dir.str());
    std::filesystem::create_symlink(pty.path, dir / "COM7");
    VCOM_Port port("COM7");
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.write("z", 1), 1);
    EXPECT_EQ(pty.receive(1), "z");
}

// A port that opened but could not be configured must not stay open: the next
// exchange would otherwise run on a line without the settings that just failed.
TEST(vcom_port, failed_configuration_releases_the_port) {
    struct Case { int step; const char* caption; const char* text; };
    const Case cases[] = {
        {1, "Error", "Статус порта не досупен"},
        {2, "Параметры порта не устанавливаются", "Параметры порта 9600, 8, Parity 0, StopBits 1"},
        {3, "Параметры таймаута не устанавливаются", "Параметры порта 9600, 8, Parity 0, StopBits 1"},
    };
    for (const auto& c : cases) {
        auto backend = std::make_unique<FailingBackend>(c.step);
        auto* raw = backend.get();
        VCOM_Port port("COM5", std::move(backend));
        EXPECT_FALSE(port.open());
        EXPECT_FALSE(port.isOpen()) << c.step;
        EXPECT_FALSE(raw->open_);
        ASSERT_TRUE(port.openProblem()) << "reported, for the program to show";
        EXPECT_EQ(port.openProblem()->caption, c.caption);
        EXPECT_EQ(port.openProblem()->text, c.text);
        EXPECT_FALSE(port.open()) << "tries again rather than reporting an unconfigured port as open";
        EXPECT_EQ(raw->opens, 2);
    }
}

TEST(vcom_port, bytes_from_before_the_open_are_discarded) {
    PtyPair pty;
    VCOM_Port port(pty.path.c_str());
    ASSERT_TRUE(port.open());
    port.close();
    pty.send("\x0B\x00\x04"); // the tail of a late reply while the port was closed
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.inputCount(), 0);
    pty.send("ok");
    EXPECT_TRUE(port.waitForInput(1, 1000));
    char got[2] = {};
    EXPECT_EQ(port.read(got, 2), 2);
    EXPECT_EQ(std::string(got, 2), "ok");
}

TEST(vcom_port, input_wait_sleeps_until_more_bytes_or_the_limit) {
    PtyPair pty;
    VCOM_Port port(pty.path.c_str());
    ASSERT_TRUE(port.open());
    auto t = Clock::now();
    const std::clock_t cpu = std::clock();
    EXPECT_FALSE(port.waitForInput(0, 300));
    const long long waited = msSince(t);
    EXPECT_GE(waited, 290);
    EXPECT_LT(waited, 600);
    EXPECT_LT(static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, 0.15) << "a wait must not spin";

    pty.send("ab"); // two bytes wait: asking for more than two sleeps on
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    t = Clock::now();
    EXPECT_FALSE(port.waitForInput(2, 200));
    EXPECT_GE(msSince(t), 190);
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.send("c");
    });
    t = Clock::now();
    EXPECT_TRUE(port.waitForInput(2, 2000));
    EXPECT_LT(msSince(t), 1000);
    late.join();
    port.close();
    EXPECT_FALSE(port.waitForInput(0, 100)) << "a closed port has nothing to wait for";
}
