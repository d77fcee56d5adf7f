// Two runners on two emulated controllers at the same time, each on threads of
// its own: a firmware upload on one and a sound upload on the other, then a
// settings write on each. Every result is its own controller's, and no frame
// meant for one reaches the other.
#include "Device.h"
#include "EmulatorProcess.h"
#include "Embedded.h"
#include "FirmwareJob.h"
#include "InfoJobs.h"
#include "PortClaims.h"
#include "RecordingHost.h"
#include "Runner.h"
#include "SettingsWriteJob.h"
#include "SoundJob.h"
#include "TempDir.h"
#include "ThreadExecutor.h"

#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

using jobs::Outcome;

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// One controller's bench place: its runner (a thread for its work, the ends
// handed back to the thread that runs its jobs) and what its jobs showed.
struct Place {
    RecordingHost host;
    std::unique_ptr<jobs::Runner> runner;
    Place(jobs::PortClaims& claims, const std::string& port) {
        runner = std::make_unique<jobs::Runner>(std::make_unique<jobs::ThreadExecutor>(), &claims);
        runner->setDevice(std::make_shared<Device>(port, &runner->trace()));
    }
};

} // namespace

TEST(two_controllers, uploads_and_writes_at_once_each_on_its_own_controller) {
    IsolatedSetup setup;
    const std::string logA = setup.dir / "a.jsonl", logB = setup.dir / "b.jsonl";
    EmulatorProcess a({"--register", "COM3", "--serial", "1001", "--version", "001.050", "--log", logA});
    EmulatorProcess b({"--register", "COM4", "--serial", "2002", "--log", logB});
    jobs::PortClaims claims;
    Place first(claims, "COM3"), second(claims, "COM4");
    const ParameterList model{embeddedText("PARAMETER_LIST")};
    const EmbeddedResource blow = embeddedResource("blow"), wave = embeddedResource("wave_list");

    jobs::FirmwareJob::Options noRestore;
    noRestore.offerRestore = false;
    jobs::SettingsWriteJob::Options write;
    write.confirm = false;
    Outcome firmware = Outcome::Running, sound = Outcome::Running, writeA = Outcome::Running, writeB = Outcome::Running;
    std::uint32_t serialA = 0, serialB = 0;
    std::thread one([&] {
        firmware = first.runner->run(std::make_shared<jobs::FirmwareJob>(first.host, jobs::Carried{blow.data, blow.size},
                                                                         model, noRestore));
        writeA = first.runner->run(std::make_shared<jobs::SettingsWriteJob>(first.host, model, "MicLevel=3\n", write));
        auto serial = std::make_shared<jobs::SerialJob>(first.host);
        first.runner->run(serial);
        serialA = serial->serial();
    });
    std::thread two([&] {
        sound = second.runner->run(std::make_shared<jobs::SoundJob>(second.host, jobs::Carried{wave.data, wave.size}));
        writeB = second.runner->run(std::make_shared<jobs::SettingsWriteJob>(second.host, model, "MicLevel=7\n", write));
        auto serial = std::make_shared<jobs::SerialJob>(second.host);
        second.runner->run(serial);
        serialB = serial->serial();
    });
    one.join();
    two.join();

    EXPECT_EQ(firmware, Outcome::Done) << "the firmware upload confirmed by its CRC";
    EXPECT_EQ(sound, Outcome::Done) << "the sound upload confirmed by its CRC";
    EXPECT_EQ(writeA, Outcome::Done);
    EXPECT_EQ(writeB, Outcome::Done);
    EXPECT_EQ(serialA, 1001u);
    EXPECT_EQ(serialB, 2002u);

    const std::string framesA = readAll(logA), framesB = readAll(logB);
    EXPECT_EQ(countOf(framesA, "{\"type\":195,"), 1) << "the firmware's begin on the first";
    EXPECT_EQ(countOf(framesA, "{\"type\":196,"), 0) << "no sound frame on the first";
    EXPECT_EQ(countOf(framesB, "{\"type\":196,"), 1) << "the sound's begin on the second";
    EXPECT_EQ(countOf(framesB, "{\"type\":195,"), 0) << "no firmware frame on the second";
    EXPECT_EQ(countOf(framesA, "{\"type\":192,"), 102);
    EXPECT_EQ(countOf(framesB, "{\"type\":192,"), 596);
    EXPECT_NE(framesA.find("MicLevel=3"), std::string::npos);
    EXPECT_EQ(framesA.find("MicLevel=7"), std::string::npos);
    EXPECT_NE(framesB.find("MicLevel=7"), std::string::npos);
    EXPECT_EQ(framesB.find("MicLevel=3"), std::string::npos);

    // Each runner's trace holds its own port's exchanges only.
    for (const auto& [place, port] : {std::pair<Place*, const char*>{&first, "COM3"}, {&second, "COM4"}}) {
        const auto entries = place->runner->trace().entries();
        ASSERT_FALSE(entries.empty());
        for (const TraceEntry& e : entries)
            ASSERT_EQ(e.port, port);
    }
    EXPECT_TRUE(first.host.only("failed ").empty());
    EXPECT_TRUE(second.host.only("failed ").empty());
}
