// A series against a bench of scripted controllers on named ports: each
// controller can be plugged, pulled, restarted onto another port and given
// faults; every port's work runs on a thread of its own, as in the programs.
#include "Embedded.h"
#include "EventLoop.h"
#include "JobJournal.h"
#include "ResultCode.h"
#include "Series.h"
#include "TempDir.h"
#include "ThreadExecutor.h"
#include "Upload.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>

namespace {

using jobs::StepMark;
using jobs::UnitOutcome;
using jobs::UnitStep;
using Clock = std::chrono::steady_clock;

struct Controller {
    std::uint32_t serial = 0;
    std::string type = "QV_r2";
    std::string version = "001.050";
    std::string settings = "MicLevel=10\nPinCod=4821\nUserNumber1=+79000000001\n";
    std::set<std::string> dropKeys;  // written but not kept
    bool refuseCrc = false;
    bool silentAfterIdentify = false;  // answers its serial number and version only
    int backAfterMs = 30;
    bool neverBack = false;
    std::string comeBackOn;  // empty: its own port
    int blockDelayMs = 0;
    // What it received, in order ("serial", "version", "read", "write", "begin-firmware", "blocks", ...).
    std::vector<std::string> frames;
    bool firmwareBegun = false, soundBegun = false;
    std::string uploadedVersion;
};
using ControllerPtr = std::shared_ptr<Controller>;

class Bench {
public:
    explicit Bench(std::string carriedVersion) : carried_(std::move(carriedVersion)) {}

    void plug(const std::string& port, ControllerPtr c) {
        std::lock_guard<std::mutex> lock(mutex_);
        plugged_[port] = std::move(c);
    }
    void pull(const std::string& port) {
        std::lock_guard<std::mutex> lock(mutex_);
        plugged_.erase(port);
    }
    std::vector<std::string> ports(const std::function<bool(const std::string&)>& skip) {
        std::lock_guard<std::mutex> lock(mutex_);
        bringBack();
        std::vector<std::string> out;
        for (const auto& [port, c] : plugged_)
            if (!skip(port))
                out.push_back(port);
        return out;
    }
    // The controller's reply to one request on port, as the device would make it; -1: nothing there.
    template <typename F>
    int on(const std::string& port, const std::string& frame, F&& answer, const std::atomic<bool>* cancel = nullptr) {
        ControllerPtr c;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            bringBack();
            const auto it = plugged_.find(port);
            if (it == plugged_.end() && hungUp_.count(port)) {
                // The line the controller restarted away from hangs: a question
                // there waits out its limit unless cut short.
                lock.unlock();
                const auto until = Clock::now() + std::chrono::seconds(3);
                while (Clock::now() < until && !(cancel && *cancel))
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                lock.lock();
                if (cancel && *cancel)
                    ++cutWaits_;
                return result::kNoReply;
            }
            if (it == plugged_.end())
                return result::kPortFailed;
            c = it->second;
            if (c->frames.empty() || c->frames.back() != frame || frame != "block")
                c->frames.push_back(frame);
        }
        if (c->silentAfterIdentify && frame != "serial" && frame != "version")
            return result::kNoReply;
        return answer(*c);
    }
    void restart(const std::string& port) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = plugged_.find(port);
        if (it == plugged_.end())
            return;
        ControllerPtr c = it->second;
        plugged_.erase(it);
        if (!c->comeBackOn.empty())
            hungUp_.insert(port);
        if (!c->uploadedVersion.empty())
            c->version = c->uploadedVersion;
        if (!c->neverBack)
            away_.push_back({Clock::now() + std::chrono::milliseconds(c->backAfterMs), c->comeBackOn.empty() ? port : c->comeBackOn, c});
    }
    const std::string& carried() const { return carried_; }
    int cutWaits() {
        std::lock_guard<std::mutex> lock(mutex_);
        return cutWaits_;
    }
    // What c received so far, read while its port's thread may be adding to it.
    std::vector<std::string> frames(const ControllerPtr& c) {
        std::lock_guard<std::mutex> lock(mutex_);
        return c->frames;
    }

private:
    struct Away {
        Clock::time_point at;
        std::string port;
        ControllerPtr controller;
    };
    void bringBack() {
        for (auto it = away_.begin(); it != away_.end();) {
            if (Clock::now() >= it->at) {
                plugged_[it->port] = it->controller;
                it = away_.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::mutex mutex_;
    std::map<std::string, ControllerPtr> plugged_;
    std::set<std::string> hungUp_;
    int cutWaits_ = 0;
    std::vector<Away> away_;
    std::string carried_;
};

// A device on one of the bench's ports: whatever is plugged in there answers.
class BenchDevice final : public DeviceInterface {
public:
    BenchDevice(Bench& bench, std::string port) : bench_(bench), port_(std::move(port)) {}

    void SetPortName(const std::string& name) override { port_ = name; }
    int ReadSettings(std::string& text) override {
        return bench_.on(port_, "read", [&](Controller& c) { text = c.settings; return 1; });
    }
    int WriteSettings(const std::string& text) override {
        return bench_.on(port_, "write", [&](Controller& c) {
            std::string kept;
            forEachSetting(text, [&](std::string_view key, std::string_view value) {
                if (!c.dropKeys.count(std::string(key)))
                    kept += std::string(key) + "=" + std::string(value) + "\n";
            });
            c.settings = kept;
            return 1;
        });
    }
    int GetSerialNumber(std::uint32_t& s) override {
        return bench_.on(port_, "serial", [&](Controller& c) { s = c.serial; return 1; }, cancel_);
    }
    int SetSerialNumber(std::uint32_t) override { return 1; }
    int GetVersionInfo(std::string& text) override {
        return bench_.on(port_, "version", [&](Controller& c) {
            text = c.type + "\n" + c.version + "\nNov 11 2019";
            return 1;
        });
    }
    int BeginFirmwareUpdate() override {
        return bench_.on(port_, "begin-firmware", [](Controller& c) { c.firmwareBegun = true; return 1; });
    }
    int BeginSoundUpdate() override {
        return bench_.on(port_, "begin-sound", [](Controller& c) { c.soundBegun = true; return 1; });
    }
    int WriteDataBlock(const unsigned char*, std::uint32_t, std::uint16_t) override {
        return bench_.on(port_, "block", [](Controller& c) {
            if (c.blockDelayMs)
                std::this_thread::sleep_for(std::chrono::milliseconds(c.blockDelayMs));
            return 1;
        });
    }
    int CheckDataCrc(std::uint32_t, std::uint32_t) override {
        return bench_.on(port_, "commit", [&](Controller& c) {
            if (c.refuseCrc)
                return result::kBadReply;
            if (c.firmwareBegun)
                c.uploadedVersion = bench_.carried();
            c.firmwareBegun = c.soundBegun = false;
            return 1;
        });
    }
    int StartCalibration(std::int16_t, std::int16_t) override { return 1; }
    int ReadDiagnostics(unsigned char (&)[24]) override { return 1; }
    int RestartDevice() override {
        const int r = bench_.on(port_, "restart", [](Controller&) { return 1; });
        if (r > 0)
            bench_.restart(port_);
        return r;
    }
    int ParseVersionInfo(DeviceInfo& info, const char* text) override {
        info = parseVersionText(text);
        return 1;
    }
    bool FindDevicePort(std::string&) override { return false; }
    const std::string& PortName() const override { return port_; }
    void SetCancelFlag(const std::atomic<bool>* flag) override { cancel_ = flag; }
    void SetSearchObserver(std::function<void(const std::string&)>) override {}
    void SetPortsInUse(std::function<bool(const std::string&)>) override {}
    std::vector<PortNotice> TakePortNotices() override { return {}; }

private:
    Bench& bench_;
    std::string port_;
    const std::atomic<bool>* cancel_ = nullptr;
};

struct Watcher : jobs::SeriesObserver {
    std::vector<jobs::UnitRow> ended;  // each unit as it ended
    std::vector<std::string> lines;
    bool seriesOver = false;
    std::function<void(const jobs::UnitRow&)> onChange;
    void unitChanged(const jobs::UnitRow& row) override {
        if (row.outcome != UnitOutcome::Running)
            ended.push_back(row);
        if (onChange)
            onChange(row);
    }
    void seriesLine(const std::string& line) override { lines.push_back(line); }
    void seriesEnded() override { seriesOver = true; }
};

std::string carriedVersion() {
    const EmbeddedResource blow = embeddedResource("blow");
    FirmwareImage image;
    image.load(blow.data, blow.size);
    return fieldText(image.info.firmwareVersion);
}

struct SeriesTest : ::testing::Test, IsolatedSetup {
    jobs::PlainLoop loop;
    Bench bench{carriedVersion()};
    ParameterList model{embeddedText("PARAMETER_LIST")};
    journal::JournalStore store{dir / "journal.sqlite"};
    jobs::JobJournal journal{store, journal::Workplace{"BENCH-PC", "tech", "z58test", "9.9"}};
    Watcher watcher;
    jobs::SeriesSetup setup;
    std::unique_ptr<jobs::Series> series;

    SeriesTest() {
        setup.referencePath = "reference.txt";
        setup.referenceText = "MicLevel=12\nPinCod=1111\nUserNumber1=+79990000000\n";
    }
    ControllerPtr controller(std::uint32_t serial) {
        auto c = std::make_shared<Controller>();
        c->serial = serial;
        return c;
    }
    void begin(int backAfterRestartMs = 3000) {
        jobs::SeriesPlatform p;
        p.loop = &loop;
        p.device = [this](const std::string& port) { return std::make_shared<BenchDevice>(bench, port); };
        p.executor = [this] {
            return std::make_unique<jobs::ThreadExecutor>([this](std::function<void()> f) { loop.post(std::move(f)); });
        };
        p.ports = [this](const std::function<bool(const std::string&)>& skip) { return bench.ports(skip); };
        p.journal = &journal;
        p.listEveryMs = 20;
        p.askAgainMs = 50;
        p.backAfterRestartMs = static_cast<std::uint32_t>(backAfterRestartMs);
        const EmbeddedResource blow = embeddedResource("blow"), bank = embeddedResource("wave_list");
        jobs::SeriesResources r{{blow.data, blow.size}, {bank.data, bank.size}, &model};
        series = std::make_unique<jobs::Series>(setup, r, p, watcher);
        series->start();
    }
    bool runUntil(const std::function<bool()>& done, int ms = 20000) {
        return loop.runUntil(done, std::chrono::milliseconds(ms));
    }
    bool endedCount(std::size_t n, int ms = 20000) {
        return runUntil([&] { return watcher.ended.size() >= n; }, ms);
    }
    const jobs::UnitRow* rowOf(std::uint32_t serial) const {
        for (const jobs::UnitRow& r : series->units())
            if (r.serial == serial)
                return &r;
        return nullptr;
    }
    std::string marks(const jobs::UnitRow& r) const {
        static const char letter[] = {'.', '>', '+', '-', 'x'};
        std::string s;
        for (StepMark m : r.marks)
            s += letter[static_cast<int>(m)];
        return s;
    }
};

std::string readFile(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(SeriesReference, is_checked_before_anything_is_sent) {
    const ParameterList model{embeddedText("PARAMETER_LIST")};
    EXPECT_EQ(jobs::checkReference(model, "MicLevel=12\r\nPinCod=1111\r\n"), "");
    EXPECT_NE(jobs::checkReference(model, ""), "") << "no settings in it";
    EXPECT_NE(jobs::checkReference(model, "just some text\n"), "");
    const std::string bad = jobs::checkReference(model, "MicLevel=banana\n");
    EXPECT_NE(bad.find("MicLevel"), std::string::npos) << bad;
    EXPECT_NE(jobs::checkReference(model, "MicLevel=12\nUserNumber1=" + std::string(4000, '7') + "\n"), "") << "too long";
}

TEST(PlainLoop, a_quit_from_the_call_that_ended_a_wait_does_not_end_the_next_one) {
    jobs::PlainLoop loop;
    bool done = false;
    loop.post([&] {
        done = true;
        loop.quit();
    });
    EXPECT_TRUE(loop.runUntil([&] { return done; }, std::chrono::seconds(5)));
    bool later = false;
    loop.after(30, [&] { later = true; });
    EXPECT_TRUE(loop.runUntil([&] { return later; }, std::chrono::seconds(5)));
}

TEST(SeriesNames, round_trip) {
    for (auto p : {jobs::FirmwarePolicy::Older, jobs::FirmwarePolicy::Always, jobs::FirmwarePolicy::Never})
        EXPECT_EQ(jobs::firmwarePolicyFromName(jobs::firmwarePolicyName(p)), p);
    EXPECT_FALSE(jobs::firmwarePolicyFromName("sometimes"));
}

TEST_F(SeriesTest, a_unit_goes_through_every_step_and_each_job_is_on_record) {
    setup.sound = true;
    setup.sheetsFolder = dir / "листы";
    setup.expected = 1;
    auto c = controller(1001);
    bench.plug("COM3", c);
    begin();
    ASSERT_TRUE(runUntil([&] { return series->ended(); }));
    ASSERT_EQ(watcher.ended.size(), 1u);
    const jobs::UnitRow& r = watcher.ended[0];
    EXPECT_EQ(r.outcome, UnitOutcome::Done) << r.reason;
    EXPECT_EQ(marks(r), "++++++");
    EXPECT_EQ(r.firmwareBefore, "001.050");
    EXPECT_EQ(r.firmwareAfter, bench.carried());
    EXPECT_EQ(c->version, bench.carried());
    EXPECT_EQ(r.type, "QV_r2");
    // The owner's values are the unit's own; the rest is the reference.
    EXPECT_NE(c->settings.find("MicLevel=12"), std::string::npos) << c->settings;
    EXPECT_NE(c->settings.find("PinCod=4821"), std::string::npos) << c->settings;
    EXPECT_NE(c->settings.find("UserNumber1=+79000000001"), std::string::npos) << c->settings;
    // Nothing overwritten before its backup; firmware, then sound, then settings.
    const auto& f = c->frames;
    const auto at = [&](const std::string& frame) { return std::find(f.begin(), f.end(), frame) - f.begin(); };
    EXPECT_LT(at("read"), at("begin-firmware"));
    EXPECT_LT(at("begin-firmware"), at("restart"));
    EXPECT_LT(at("restart"), at("begin-sound"));
    EXPECT_LT(at("begin-sound"), at("write"));
    ASSERT_FALSE(r.sheetFile.empty());
    const std::string sheet = readFile(r.sheetFile);
    EXPECT_NE(sheet.find("1001"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(series->csvFile())));

    std::map<journal::JobKind, int> kinds;
    for (const journal::JobRecord& rec : store.list()) {
        EXPECT_EQ(rec.seriesId, series->id());
        EXPECT_EQ(rec.unitNumber, 1);
        EXPECT_EQ(rec.serial, 1001u);
        EXPECT_EQ(rec.deviceType, "QV_r2") << "known from the unit's identification";
        if (rec.kind == journal::JobKind::Backup || rec.kind == journal::JobKind::Firmware) {
            EXPECT_EQ(rec.firmwareBefore, "001.050");
        } else {
            EXPECT_EQ(rec.firmwareBefore, bench.carried()) << "the version it runs since its update";
        }
        EXPECT_EQ(rec.outcome, journal::JobOutcome::Done);
        ++kinds[rec.kind];
        if (rec.kind == journal::JobKind::Firmware) {
            EXPECT_EQ(store.find(rec.id)->firmwareAfter, bench.carried()) << "the version read once it was back";
        }
    }
    EXPECT_EQ(kinds, (std::map<journal::JobKind, int>{{journal::JobKind::Backup, 1},
                                                      {journal::JobKind::Firmware, 1},
                                                      {journal::JobKind::Sound, 1},
                                                      {journal::JobKind::SettingsWrite, 1}}));
}

TEST_F(SeriesTest, each_failure_ends_its_own_unit_with_the_step_and_reason) {
    setup.expected = 7;
    auto good = controller(1), other = controller(2), silent = controller(3), crc = controller(4), unkept = controller(5),
         gone = controller(6), moved = controller(7);
    other->type = "QV_x9";
    silent->silentAfterIdentify = true;
    crc->refuseCrc = true;
    unkept->dropKeys = {"MicLevel"};
    gone->neverBack = true;
    moved->comeBackOn = "COM20";
    moved->backAfterMs = 500;  // after the first question went down its old line
    const std::pair<const char*, ControllerPtr> plugs[] = {{"COM2", good},   {"COM3", other}, {"COM4", silent},
                                                           {"COM5", crc},    {"COM6", unkept}, {"COM7", gone},
                                                           {"COM8", moved}};
    for (const auto& [port, c] : plugs)
        bench.plug(port, c);
    begin(1500);
    ASSERT_TRUE(runUntil([&] { return series->ended(); }, 30000)) << watcher.ended.size() << " ended";

    const auto expectFailed = [&](std::uint32_t serial, UnitStep step, const std::string& reasonPart) {
        const jobs::UnitRow* r = rowOf(serial);
        ASSERT_NE(r, nullptr) << serial;
        EXPECT_EQ(r->outcome, UnitOutcome::Failed) << serial;
        ASSERT_TRUE(r->failedStep) << serial;
        EXPECT_EQ(*r->failedStep, step) << serial << ": " << r->reason;
        EXPECT_NE(r->reason.find(reasonPart), std::string::npos) << serial << ": " << r->reason;
    };
    expectFailed(2, UnitStep::Identify, "QV_x9");
    expectFailed(3, UnitStep::Backup, "");
    expectFailed(4, UnitStep::Firmware, "");
    expectFailed(5, UnitStep::Settings, "");
    expectFailed(6, UnitStep::Firmware, "не ответило");
    for (const std::string& frame : bench.frames(other))
        EXPECT_TRUE(frame == "serial" || frame == "version") << "another type: nothing sent, but " << frame;
    EXPECT_FALSE(rowOf(3)->reason.empty());
    for (std::uint32_t serial : {1u, 7u}) {
        const jobs::UnitRow* r = rowOf(serial);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->outcome, UnitOutcome::Done) << serial << ": " << r->reason;
    }
    EXPECT_EQ(rowOf(7)->port, "COM20") << "known by its serial number wherever it came back";
    EXPECT_EQ(bench.cutWaits(), 1) << "found elsewhere, the question on its hung-up old line is cut short";
    EXPECT_EQ(series->doneCount(), 2);
    EXPECT_EQ(series->failedCount(), 5);
    // Every unit's records carry its own number.
    for (const journal::JobRecord& rec : store.list()) {
        ASSERT_TRUE(rec.serial && rec.unitNumber);
        EXPECT_EQ(rowOf(*rec.serial)->number, *rec.unitNumber);
    }
    // One CSV line per unit, each with its step and reason.
    EXPECT_TRUE(series->csvFile().empty()) << "neither sheets nor a CSV path: no file";
    const std::string text = series->csvText();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8) << "a line each, reasons on one line too: " << text;
    EXPECT_NE(text.find(",failed,firmware,"), std::string::npos) << text;
}

TEST_F(SeriesTest, a_unit_plugged_twice_is_done_once_unless_asked_again) {
    auto c = controller(42);
    bench.plug("COM3", c);
    begin();
    ASSERT_TRUE(endedCount(1));
    EXPECT_EQ(watcher.ended[0].outcome, UnitOutcome::Done) << watcher.ended[0].reason;
    // Pulled and plugged in again, on another port too: not done again.
    bench.pull("COM3");
    runUntil([] { return false; }, 150);
    bench.plug("COM4", c);
    runUntil([] { return false; }, 300);
    EXPECT_EQ(series->units().size(), 1u);
    // Asked on its row: done again where it is.
    series->again(1);
    ASSERT_TRUE(endedCount(2));
    EXPECT_EQ(series->units().size(), 2u);
    EXPECT_EQ(series->units()[1].port, "COM4");
    EXPECT_EQ(series->units()[1].outcome, UnitOutcome::Done);
    series->stop();
    EXPECT_TRUE(runUntil([&] { return series->ended(); }));
}

TEST_F(SeriesTest, a_failed_unit_plugged_in_again_is_tried_again_but_not_while_it_stays) {
    auto c = controller(9);
    c->refuseCrc = true;
    bench.plug("COM3", c);
    begin();
    ASSERT_TRUE(endedCount(1));
    EXPECT_EQ(watcher.ended[0].outcome, UnitOutcome::Failed);
    runUntil([] { return false; }, 300);
    EXPECT_EQ(series->units().size(), 1u) << "still plugged in: not retried by itself";
    bench.pull("COM3");
    c->refuseCrc = false;
    runUntil([] { return false; }, 150);
    bench.plug("COM3", c);
    ASSERT_TRUE(endedCount(2));
    EXPECT_EQ(watcher.ended[1].outcome, UnitOutcome::Done) << watcher.ended[1].reason;
    series->stop();
    EXPECT_TRUE(runUntil([&] { return series->ended(); }));
}

TEST_F(SeriesTest, stop_during_an_upload_lets_it_finish_and_starts_nothing_new) {
    setup.csvPath = dir / "out/series.csv";
    auto slow = controller(5);
    slow->blockDelayMs = 2;
    bench.plug("COM3", slow);
    begin();
    // Stopped once its first blocks are acknowledged.
    ASSERT_TRUE(runUntil([&] {
        const auto f = bench.frames(slow);
        return std::count(f.begin(), f.end(), "block") > 0;
    }));
    bool stopped = false;
    watcher.onChange = [&](const jobs::UnitRow& r) {
        if (!stopped && r.progress > 3) {
            stopped = true;
            series->stop();
            bench.plug("COM4", controller(6));
        }
    };
    ASSERT_TRUE(runUntil([&] { return series->ended(); }));
    ASSERT_EQ(series->units().size(), 1u) << "nothing new after Stop";
    const jobs::UnitRow& r = series->units()[0];
    EXPECT_EQ(r.outcome, UnitOutcome::Stopped);
    ASSERT_TRUE(r.failedStep);
    EXPECT_EQ(*r.failedStep, UnitStep::Settings) << "the firmware finished, the next step did not start";
    EXPECT_EQ(slow->version, bench.carried());
    EXPECT_EQ(std::count(slow->frames.begin(), slow->frames.end(), "write"), 0);
    const std::string csv = readFile(setup.csvPath);
    EXPECT_NE(csv.find(",stopped,settings,"), std::string::npos) << csv;
}

TEST_F(SeriesTest, stop_between_units_and_stop_on_failure_end_the_series) {
    setup.stopOnFailure = true;
    auto bad = controller(11);
    bad->type = "QV_x9";
    bench.plug("COM3", bad);
    begin();
    ASSERT_TRUE(runUntil([&] { return series->ended(); }));
    EXPECT_EQ(series->units().size(), 1u);
    bench.plug("COM4", controller(12));
    runUntil([] { return false; }, 200);
    EXPECT_EQ(series->units().size(), 1u) << "an ended series takes no unit";
}

TEST_F(SeriesTest, several_ports_run_at_once) {
    setup.expected = 4;
    std::vector<ControllerPtr> cs;
    for (int i = 0; i < 4; ++i) {
        cs.push_back(controller(100 + i));
        cs.back()->blockDelayMs = 1;
        bench.plug("COM" + std::to_string(10 + i), cs.back());
    }
    begin();
    int most = 0;
    watcher.onChange = [&](const jobs::UnitRow&) { most = std::max(most, series->runningCount()); };
    ASSERT_TRUE(runUntil([&] { return series->ended(); }, 30000));
    EXPECT_EQ(series->doneCount(), 4);
    EXPECT_EQ(most, 4) << "every port's unit ran at the same time";
}

TEST_F(SeriesTest, stopped_while_its_controller_restarts_the_unit_is_still_found_on_its_new_port) {
    auto moving = controller(31);
    moving->comeBackOn = "COM9";
    moving->backAfterMs = 150;
    bench.plug("COM3", moving);
    begin();
    ASSERT_TRUE(runUntil([&] {
        const auto f = bench.frames(moving);
        return std::find(f.begin(), f.end(), "restart") != f.end();
    }));
    series->stop();
    ASSERT_TRUE(runUntil([&] { return series->ended(); }));
    const jobs::UnitRow& r = series->units().at(0);
    EXPECT_EQ(r.outcome, UnitOutcome::Stopped) << r.reason;
    EXPECT_EQ(r.port, "COM9");
    EXPECT_EQ(r.firmwareAfter, bench.carried()) << "the firmware step ended as it would have";
    EXPECT_EQ(r.marks[static_cast<int>(UnitStep::Firmware)], StepMark::Done);
}

TEST_F(SeriesTest, a_cable_pulled_during_an_upload_fails_that_unit_only) {
    setup.expected = 3;
    auto pulled = controller(51), a = controller(52), b = controller(53);
    for (const auto& c : {pulled, a, b})
        c->blockDelayMs = 1;
    bench.plug("COM3", pulled);
    bench.plug("COM4", a);
    bench.plug("COM5", b);
    begin();
    ASSERT_TRUE(runUntil([&] {
        const auto f = bench.frames(pulled);
        return std::find(f.begin(), f.end(), "block") != f.end();
    }));
    bench.pull("COM3");
    ASSERT_TRUE(runUntil([&] { return series->ended(); }));
    EXPECT_EQ(rowOf(51)->outcome, UnitOutcome::Failed);
    EXPECT_EQ(rowOf(51)->failedStep, UnitStep::Firmware);
    EXPECT_EQ(rowOf(52)->outcome, UnitOutcome::Done) << rowOf(52)->reason;
    EXPECT_EQ(rowOf(53)->outcome, UnitOutcome::Done) << rowOf(53)->reason;
}

TEST_F(SeriesTest, stop_between_units_ends_the_series_at_once) {
    bench.plug("COM3", controller(61));
    begin();
    ASSERT_TRUE(endedCount(1));
    series->stop();
    EXPECT_TRUE(series->ended()) << "nothing ran: ended at once";
    EXPECT_TRUE(watcher.seriesOver);
    bench.plug("COM4", controller(62));
    runUntil([] { return false; }, 200);
    EXPECT_EQ(series->units().size(), 1u);
    EXPECT_EQ(series->doneCount(), 1);
}
