// The runner without a window: the job loop, taking over and dropping, the
// observer's start and end of every job, what comes back with a result, and
// the executor on a real thread.
#include "Embedded.h"
#include "FirmwareJob.h"
#include "InfoJobs.h"
#include "PortClaims.h"
#include "RecordingHost.h"
#include "Runner.h"
#include "ScriptedDevice.h"
#include "SettingsWriteJob.h"
#include "SoundJob.h"
#include "TempDir.h"
#include "ThreadExecutor.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#ifndef _WIN32
#include "Pty.h"
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

using jobs::Outcome;
using jobs::Pace;
using Strings = std::vector<std::string>;

// Ticks only when the test says so, as the window's timers would.
struct HeldPacer : jobs::Pacer {
    std::function<void()> firmware, sound;
    void wait(Pace pace, std::function<void()> due) override { (pace == Pace::SoundTick ? sound : firmware) = std::move(due); }
    void cancel(Pace pace) override { (pace == Pace::SoundTick ? sound : firmware) = nullptr; }
    bool tick(Pace pace) {
        auto& due = pace == Pace::SoundTick ? sound : firmware;
        if (!due)
            return false;
        std::exchange(due, nullptr)();
        return true;
    }
};

struct Journal : jobs::JobObserver {
    Strings seen;
    void jobStarted(const jobs::Job& job) override { seen.push_back("start " + name(job)); }
    void jobEnded(const jobs::Job& job) override {
        static const char* outcomes[] = {"running", "done", "failed", "declined", "refused", "interrupted"};
        seen.push_back("end " + name(job) + " " + outcomes[static_cast<int>(job.outcome())]);
    }
    static std::string name(const jobs::Job& job) {
        if (dynamic_cast<const jobs::SoundJob*>(&job))
            return "sound";
        if (dynamic_cast<const jobs::FirmwareJob*>(&job))
            return "firmware";
        return "other";
    }
};

struct RunnerTest : ::testing::Test, IsolatedSetup {
    RecordingHost host;
    std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
    ParameterList model{embeddedText("PARAMETER_LIST")};
    EmbeddedResource blow = embeddedResource("blow"), wave = embeddedResource("wave_list");
    HeldPacer pacer;
    Journal journal;
    jobs::Runner runner;

    RunnerTest() {
        runner.setDevice(device);
        runner.setObserver(&journal);
    }
    std::shared_ptr<jobs::SoundJob> sound() { return std::make_shared<jobs::SoundJob>(host, jobs::Carried{wave.data, wave.size}); }
    // Hands back every end that is due (inline work runs as it is handed).
    void deliverAll() {
        while (runner.executor().deliverNext()) {
        }
    }
};

} // namespace

TEST_F(RunnerTest, runs_a_job_to_its_end_and_tells_its_start_and_end_once) {
    EXPECT_EQ(runner.run(sound()), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"begin-sound", "blocks 596", "commit"}));
    EXPECT_EQ(journal.seen, (Strings{"start sound", "end sound done"}));
    EXPECT_FALSE(runner.busy());
    EXPECT_EQ(runner.uploads().busy(), jobs::UploadKind::None);
}

TEST_F(RunnerTest, a_job_started_again_takes_over_and_the_old_one_sends_no_more) {
    runner.setPacer(&pacer);
    int oldEnded = 0, newEnded = 0;
    const auto first = runner.start(sound(), [&](Outcome) { ++oldEnded; });
    deliverAll(); // begun, the first block waits for its tick
    ASSERT_TRUE(pacer.tick(Pace::SoundTick));
    deliverAll(); // one block sent
    ASSERT_EQ(device->blocks.size(), 1u);

    // Cancel on the question: the old upload goes on.
    host.answers = {false};
    const auto declined = runner.start(sound(), {}, first);
    EXPECT_FALSE(runner.running(declined));
    EXPECT_TRUE(runner.running(first));

    const auto second = runner.start(sound(), [&](Outcome o) {
        ++newEnded;
        EXPECT_EQ(o, Outcome::Done);
    }, first);
    EXPECT_FALSE(runner.running(first)) << "dropped once the new one asked for work";
    const size_t before = device->calls.size();
    deliverAll();
    while (pacer.tick(Pace::SoundTick))
        deliverAll();
    EXPECT_FALSE(runner.running(second));
    EXPECT_EQ(oldEnded, 0) << "a dropped job's own end is not called";
    EXPECT_EQ(newEnded, 1);
    EXPECT_EQ(device->calls[before], "begin-sound") << "the new upload starts from its begin request";
    ASSERT_EQ(device->blocks.size(), 1u + 596u);
    EXPECT_EQ(device->blocks[1].first, 0u) << "and from offset 0";
    EXPECT_EQ(journal.seen, (Strings{"start sound", "start sound", "end sound declined", "start sound",
                                     "end sound interrupted", "end sound done"}));
}

TEST_F(RunnerTest, a_dropped_upload_lets_the_slot_go_and_asks_for_nothing_more) {
    runner.setPacer(&pacer);
    const auto id = runner.start(sound());
    deliverAll();
    ASSERT_TRUE(pacer.tick(Pace::SoundTick));
    deliverAll();
    EXPECT_EQ(runner.uploads().busy(), jobs::UploadKind::Sound);
    runner.drop(id);
    EXPECT_EQ(runner.uploads().busy(), jobs::UploadKind::None);
    EXPECT_FALSE(pacer.sound) << "its tick is no longer waited for";
    const size_t calls = device->calls.size();
    deliverAll();
    EXPECT_EQ(device->calls.size(), calls);
    EXPECT_EQ(journal.seen.back(), "end sound interrupted");

    // The firmware can begin now.
    auto firmware = std::make_shared<jobs::FirmwareJob>(host, jobs::Carried{blow.data, blow.size}, model,
                                                        jobs::FirmwareJob::Options{});
    runner.setPacer(nullptr);
    EXPECT_EQ(runner.run(firmware), Outcome::Done);
}

TEST_F(RunnerTest, port_notices_come_back_with_the_result_they_belong_to) {
    device->results = {{"serial", -1}};
    device->notices = {{"Статус порта не досупен", "Error"}};
    EXPECT_EQ(runner.run(std::make_shared<jobs::SerialJob>(host)), Outcome::Failed);
    EXPECT_EQ(host.events, (Strings{"tell Error|Статус порта не досупен",
                                    "failed Устройство не подключено или занято.|Серийный номер -1"}));
    host = RecordingHost{};
    device->results.clear();
    EXPECT_EQ(runner.run(std::make_shared<jobs::SerialJob>(host)), Outcome::Done);
    EXPECT_EQ(host.events, Strings{"log Серийный номер устройства 77"}) << "no notice left over for the next job";
}

TEST_F(RunnerTest, quick_jobs_read_and_show_once_for_window_and_terminal) {
    device->serial = 4294967295u;
    struct Readings : RecordingHost {
        std::vector<jobs::Reading> got;
        void reading(const jobs::Reading& r) override { got.push_back(r); }
    } readings;
    EXPECT_EQ(runner.run(std::make_shared<jobs::SerialJob>(readings)), Outcome::Done);
    EXPECT_EQ(runner.run(std::make_shared<jobs::VersionJob>(readings)), Outcome::Done);
    EXPECT_EQ(runner.run(std::make_shared<jobs::DiagnosticsJob>(readings)), Outcome::Done);
    ASSERT_EQ(readings.got.size(), 3u);
    EXPECT_EQ(readings.got[0].log, Strings{"Серийный номер устройства -1"}) << "the window's signed number";
    EXPECT_EQ(readings.got[0].output, Strings{"4294967295"});
    EXPECT_EQ(readings.got[1].log, (Strings{"Тип устройства   : Z58 (r2)", "Версия прошивки : 001.050"}));
    EXPECT_EQ(readings.got[1].output, (Strings{"QV_r2", "001.050", "Nov 11 2019"}));
    EXPECT_EQ(readings.got[2].output[0].substr(0, 8), "A0 A1 A2");
    EXPECT_EQ(device->frames(), (Strings{"serial", "version", "diagnostics"}));
}

TEST_F(RunnerTest, a_settings_text_too_long_is_refused_before_anything_is_asked_or_sent) {
    std::string text;
    for (int i = 1; i <= 4; ++i)
        text += "UserNumber" + std::to_string(i) + "=" + std::string(300, '7') + "\n";
    jobs::SettingsWriteJob::Options o;
    EXPECT_EQ(runner.run(std::make_shared<jobs::SettingsWriteJob>(host, model, text, o)), Outcome::Refused);
    EXPECT_TRUE(device->calls.empty());
    EXPECT_TRUE(host.only("ask ").empty());
    ASSERT_EQ(host.only("failed ").size(), 1u);
}

TEST_F(RunnerTest, broken_carried_data_is_told_and_nothing_is_sent) {
    const unsigned char shortData[4] = {1, 2, 3, 4};
    EXPECT_EQ(runner.run(std::make_shared<jobs::SoundJob>(host, jobs::Carried{shortData, sizeof shortData})), Outcome::Failed);
    EXPECT_EQ(runner.run(std::make_shared<jobs::FirmwareJob>(host, jobs::Carried{shortData, sizeof shortData}, model,
                                                             jobs::FirmwareJob::Options{})),
              Outcome::Failed);
    EXPECT_TRUE(device->calls.empty());
    EXPECT_TRUE(host.only("ask ").empty());
    EXPECT_EQ(host.only("failed "), (Strings{"failed Встроенный ресурс \"wave_list\" не найден или повреждён|"
                                             "встроенные звуковые данные повреждены 0",
                                             "failed Встроенный ресурс \"blow\" не найден или повреждён|"
                                             "встроенная прошивка повреждена 0"}));
}

TEST_F(RunnerTest, a_failed_restart_says_so_and_the_restore_waits_for_the_controller) {
    jobs::FirmwareJob::Options options;
    options.backAfterRestartMs = 1500;
    auto firmware = [&] { return std::make_shared<jobs::FirmwareJob>(host, jobs::Carried{blow.data, blow.size}, model, options); };
    device->results = {{"restart", -1}};
    EXPECT_EQ(runner.run(firmware()), Outcome::Failed);
    const Strings failed = host.only("failed ");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].rfind("failed Устройство не подключено или занято.\nПерезагрузка не выполнена", 0), 0u) << failed[0];
    EXPECT_EQ(host.only("tell Перезагрузка").size(), 0u) << "no wait for a beep that will not come";
    EXPECT_EQ(device->frames().back(), "read") << "the controller answered: the settings were offered and written back";

    // Not back at all: the offer is not made, and the way back is named.
    device = std::make_shared<ScriptedDevice>();
    runner.setDevice(device);
    host = RecordingHost{};
    device->versionFailsAfter = 1;  // answers before the update, never after
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(runner.run(firmware()), Outcome::Failed);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1200)) << "it waited for the controller";
    EXPECT_GT(device->count("version"), 2) << "asked again while it was away";
    EXPECT_EQ(device->count("write"), 0);
    EXPECT_EQ(host.only("ask Восстановление").size(), 0u);
    EXPECT_EQ(host.only("failed ").back().rfind("failed Устройство не ответило после перезагрузки.", 0), 0u);
}

#ifndef _WIN32
// Another exchange may open the port the moment this one ended; the reason for
// this failure must be the port as this exchange left it.
TEST_F(RunnerTest, why_a_port_failed_is_asked_where_the_work_ran_not_later) {
    struct Holding : jobs::Executor {
        std::string path;
        std::deque<Item> queue;
        void submit(Item item) override { queue.push_back(std::move(item)); }
        void abandon(const void*, bool) override {}
        bool busy() const override { return !queue.empty(); }
        bool deliverNext() override {
            if (queue.empty())
                return false;
            Item item = std::move(queue.front());
            queue.pop_front();
            jobs::WorkResult result = item.run({});
            // The next exchange holds the port while this job takes its result.
            const int held = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            EXPECT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
            item.done(std::move(result));
            ::close(held);
            return true;
        }
    };
    PtyPair line;
    ASSERT_FALSE(line.path.empty());
    auto executor = std::make_unique<Holding>();
    executor->path = line.path;
    jobs::Runner holding(std::move(executor));
    device->port = line.path;
    device->results = {{"begin-sound", -2}};
    holding.setDevice(device);
    EXPECT_EQ(holding.run(sound()), Outcome::Failed);
    ASSERT_EQ(host.whys.size(), 1u);
    EXPECT_EQ(host.whys[0], "") << "the port was free when the exchange failed";
}
#endif

// A controller whose serial number read waits out its limit unless cancelled.
struct SlowDevice : ScriptedDevice {
    const std::atomic<bool>* cancel = nullptr;
    void SetCancelFlag(const std::atomic<bool>* flag) override { cancel = flag; }
    int GetSerialNumber(std::uint32_t& s) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
        while (std::chrono::steady_clock::now() < until && !(cancel && *cancel))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        s = 1;
        return cancel && *cancel ? -2 : 1;
    }
};

TEST(thread_executor, runs_in_order_on_its_own_thread_and_hands_each_end_back) {
    IsolatedSetup setup;
    RecordingHost host;
    auto device = std::make_shared<ScriptedDevice>();
    jobs::Runner runner(std::make_unique<jobs::ThreadExecutor>());
    runner.setDevice(device);
    const EmbeddedResource wave = embeddedResource("wave_list");
    EXPECT_EQ(runner.run(std::make_shared<jobs::SoundJob>(host, jobs::Carried{wave.data, wave.size})), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"begin-sound", "blocks 596", "commit"}));
    EXPECT_FALSE(runner.busy());
}

TEST(thread_executor, ends_promptly_while_a_reply_is_awaited) {
    IsolatedSetup setup;
    RecordingHost host;
    auto device = std::make_shared<SlowDevice>();
    auto runner = std::make_unique<jobs::Runner>(std::make_unique<jobs::ThreadExecutor>());
    runner->setDevice(device);
    bool ended = false;
    runner->start(std::make_shared<jobs::SerialJob>(host), [&](Outcome) { ended = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto t0 = std::chrono::steady_clock::now();
    runner.reset(); // the program quits in the middle of an exchange
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1)) << "the wait is cut short, the thread joined";
    EXPECT_FALSE(ended) << "nothing of a dropped job runs after it";
    EXPECT_EQ(device.use_count(), 1) << "what the work held was let go";
}

TEST(port_claims, a_port_held_by_one_runner_is_in_use_for_another_only) {
    jobs::PortClaims claims;
    auto a = std::make_shared<ScriptedDevice>(), b = std::make_shared<ScriptedDevice>();
    a->port = "COM3";
    b->port = "COM4";
    {
        jobs::Runner first(&claims), second(&claims);
        first.setDevice(a);
        second.setDevice(b);
        EXPECT_TRUE(claims.heldByOther("COM3", &second));
        EXPECT_FALSE(claims.heldByOther("COM3", &first));
        EXPECT_FALSE(claims.heldByOther("COM5", &first));
    }
    EXPECT_FALSE(claims.heldByOther("COM3", nullptr)) << "a runner that is gone holds nothing";
}
