// Two controllers at once against one alone: a firmware upload on one emulated
// controller and a sound upload on another, each on a runner with a thread of
// its own, as z58ctl runs them (each block as soon as the last one was
// acknowledged). Prints the wall times and the ratio of the pair to the longer
// one alone.
//   runner_bench [ROUNDS]
#include "Device.h"
#include "Embedded.h"
#include "EmulatorProcess.h"
#include "FirmwareJob.h"
#include "RecordingHost.h"
#include "Runner.h"
#include "SoundJob.h"
#include "TempDir.h"
#include "ThreadExecutor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Bench {
    IsolatedSetup setup;
    EmulatorProcess a{{"--register", "COM3", "--serial", "1", "--version", "001.050"}}, b{{"--register", "COM4", "--serial", "2"}};
    ParameterList model{embeddedText("PARAMETER_LIST")};
    EmbeddedResource blow = embeddedResource("blow"), wave = embeddedResource("wave_list");

    static std::unique_ptr<jobs::Runner> runner(const std::string& port) {
        auto r = std::make_unique<jobs::Runner>(std::make_unique<jobs::ThreadExecutor>());
        r->setDevice(std::make_shared<Device>(port, &r->trace()));
        return r;
    }
    double firmware() {
        RecordingHost host;
        host.answers = {true, false};  // start, then no restart: the emulator keeps its version
        jobs::FirmwareJob::Options o;
        o.backup = false;
        o.offerRestore = false;
        const auto t0 = Clock::now();
        if (runner("COM3")->run(std::make_shared<jobs::FirmwareJob>(host, jobs::Carried{blow.data, blow.size}, model, o)) !=
            jobs::Outcome::Done)
            std::fprintf(stderr, "firmware upload failed\n");
        return secondsSince(t0);
    }
    double sound() {
        RecordingHost host;
        const auto t0 = Clock::now();
        if (runner("COM4")->run(std::make_shared<jobs::SoundJob>(host, jobs::Carried{wave.data, wave.size})) !=
            jobs::Outcome::Done)
            std::fprintf(stderr, "sound upload failed\n");
        return secondsSince(t0);
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    Bench bench;
    std::vector<double> firmware, sound, both;
    for (int i = 0; i < rounds; ++i) {
        firmware.push_back(bench.firmware());
        sound.push_back(bench.sound());
        const auto t0 = Clock::now();
        std::thread one([&] { bench.firmware(); });
        std::thread two([&] { bench.sound(); });
        one.join();
        two.join();
        both.push_back(secondsSince(t0));
    }
    const double longer = std::max(median(firmware), median(sound));
    std::printf("firmware alone %.3f s, sound alone %.3f s, both at once %.3f s (median of %d): %.2fx the longer one\n",
                median(firmware), median(sound), median(both), rounds, median(both) / longer);
    return 0;
}
