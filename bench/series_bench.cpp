// A series of controllers against emulated ones, run as z58ctl runs it: a
// plain loop, each port's work on a thread of its own, no pacing, every job on
// record. Two figures:
//   - one unit through the series (identify to end: version, backup, firmware
//     with its restart, sound, settings write with its read-back) against the
//     sum of the same jobs run alone on a runner: what the series itself costs;
//   - four units at once against one, start to end of the series.
//   series_bench [ROUNDS] [REPLY_MS]
// REPLY_MS (default 2): each emulator waits that long before every reply, as a
// controller takes a moment to answer; 0 measures the emulators' processor time,
// which on a small machine they share with the program.
#include "BackupJob.h"
#include "Device.h"
#include "Embedded.h"
#include "EmulatorProcess.h"
#include "EventLoop.h"
#include "FirmwareJob.h"
#include "InfoJobs.h"
#include "JobJournal.h"
#include "JournalStore.h"
#include "ParameterList.h"
#include "RecordingHost.h"
#include "Runner.h"
#include "Series.h"
#include "SettingsWriteJob.h"
#include "SoundJob.h"
#include "TempDir.h"
#include "ThreadExecutor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

const char kReference[] = "MicLevel=12\r\nSlaveMode=3\r\n";

struct Bench : jobs::SeriesObserver {
    IsolatedSetup setup;
    std::vector<std::unique_ptr<EmulatorProcess>> emulators;
    std::vector<std::string> ports;
    ParameterList model{embeddedText("PARAMETER_LIST")};
    EmbeddedResource blow = embeddedResource("blow"), wave = embeddedResource("wave_list");
    journal::JournalStore store{setup.dir / "journal.sqlite"};
    jobs::JobJournal journal{store, journal::Workplace::here("series_bench")};
    jobs::PlainLoop loop;
    bool ended = false;

    explicit Bench(int replyMs) {
        model.ResetToDefaults();
        for (int i = 0; i < 4; ++i) {
            ports.push_back("COM" + std::to_string(3 + i));
            emulators.push_back(std::make_unique<EmulatorProcess>(std::vector<std::string>{
                "--register", ports.back(), "--serial", std::to_string(1000 + i), "--slow", std::to_string(replyMs)}));
        }
    }

    void unitChanged(const jobs::UnitRow&) override {}
    void seriesEnded() override { ended = true; }

    // The unit's jobs one by one on a runner of their own, as the series runs them; their sum.
    double jobsAlone(const std::string& port) {
        auto runner = std::make_unique<jobs::Runner>(std::make_unique<jobs::ThreadExecutor>());
        runner->setDevice(std::make_shared<Device>(port, &runner->trace()));
        runner->setJournal(&journal);
        RecordingHost host;  // every question answered yes, as the series' set-up does
        jobs::FirmwareJob::Options firmware;
        firmware.backup = false;
        firmware.offerRestore = false;
        jobs::SettingsWriteJob::Options write;
        write.confirm = false;
        write.backup = false;
        write.fromFile = true;
        const std::vector<std::shared_ptr<jobs::Job>> steps = {
            std::make_shared<jobs::VersionJob>(host),
            std::make_shared<jobs::BackupJob>(host, jobs::BackupJob::Mode::Standalone),
            std::make_shared<jobs::FirmwareJob>(host, jobs::Carried{blow.data, blow.size}, model, firmware),
            std::make_shared<jobs::SoundJob>(host, jobs::Carried{wave.data, wave.size}),
            std::make_shared<jobs::SettingsWriteJob>(host, model, kReference, write),
        };
        double sum = 0;
        for (const auto& job : steps) {
            const auto t0 = Clock::now();
            if (runner->run(job) != jobs::Outcome::Done)
                std::fprintf(stderr, "a job alone failed\n");
            sum += secondsSince(t0);
        }
        return sum;
    }

    // A series of the first count units; its wall time, and each unit's own.
    double series(int count, std::vector<double>& unitSeconds) {
        jobs::SeriesSetup s;
        s.referencePath = "reference.txt";
        s.referenceText = kReference;
        s.firmware = jobs::FirmwarePolicy::Always;  // every round, though the last one updated it
        s.sound = true;
        s.expected = count;
        s.ports.assign(ports.begin(), ports.begin() + count);
        jobs::SeriesResources resources{jobs::Carried{blow.data, blow.size}, jobs::Carried{wave.data, wave.size}, &model};
        jobs::SeriesPlatform platform;
        platform.loop = &loop;
        platform.device = [](const std::string& port) { return std::make_shared<Device>(port); };
        platform.executor = [this] {
            return std::make_unique<jobs::ThreadExecutor>([this](std::function<void()> call) { loop.post(std::move(call)); });
        };
        platform.journal = &journal;
        ended = false;
        jobs::Series series(s, resources, platform, *this);
        const auto t0 = Clock::now();
        series.start();
        if (!loop.runUntil([this] { return ended; }, std::chrono::minutes(2)))
            std::fprintf(stderr, "the series did not end\n");
        const double wall = secondsSince(t0);
        for (const jobs::UnitRow& row : series.units()) {
            if (row.outcome != jobs::UnitOutcome::Done)
                std::fprintf(stderr, "unit %u: %s %s\n", row.serial, jobs::unitOutcomeName(row.outcome), row.reason.c_str());
            unitSeconds.push_back(row.seconds);
        }
        return wall;
    }
};

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int replyMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 2;
    Bench bench(replyMs);
    std::vector<double> alone, unit, one, four;
    for (int i = 0; i < rounds; ++i) {
        alone.push_back(bench.jobsAlone(bench.ports[0]));
        std::vector<double> units;
        one.push_back(bench.series(1, units));
        unit.push_back(units.at(0));
        units.clear();
        four.push_back(bench.series(4, units));
    }
    std::printf("replies %d ms late, median of %d rounds:\n", replyMs, rounds);
    std::printf("  one unit through the series %.3f s, its jobs alone %.3f s: %+.1f %% (goal within 5 %%)\n", median(unit),
                median(alone), (median(unit) / median(alone) - 1) * 100);
    std::printf("  series of one %.3f s, of four at once %.3f s: %.2fx (goal under 1.3x)\n", median(one), median(four),
                median(four) / median(one));
    return 0;
}
