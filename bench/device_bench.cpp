// Device link figures over a pseudo-terminal against z58emu: request round trip,
// upload throughput against the raw line, and the CPU cost of a silent wait.
//   device_bench [--quick]
#include "Device.h"
#include "Embedded.h"
#include "EmulatorProcess.h"
#include "TempDir.h"
#include "Upload.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <pty.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Bytes per second through a raw pty pair, the line the emulator sits on.
double rawPtyThroughput(size_t total) {
    int master, slave;
    termios t{};
    cfmakeraw(&t);
    openpty(&master, &slave, nullptr, &t, nullptr);
    std::thread reader([&] {
        std::vector<char> buf(65536);
        size_t got = 0;
        while (got < total) {
            const ssize_t n = read(master, buf.data(), buf.size());
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
    });
    std::vector<char> block(1038, 'x');
    const auto t0 = Clock::now();
    for (size_t sent = 0; sent < total; sent += block.size())
        (void)!write(slave, block.data(), block.size());
    reader.join();
    const double rate = static_cast<double>(total) / seconds(t0);
    close(master);
    close(slave);
    return rate;
}

double uploadRate(Device& d, const unsigned char* data, size_t size, std::uint32_t crc, std::uint32_t length, bool firmware) {
    if ((firmware ? d.BeginFirmwareUpdate() : d.BeginSoundUpdate()) != 1)
        return -1;
    UploadStepper up(data, size, crc, length);
    const auto t0 = Clock::now();
    while (!up.allSent())
        if (up.sendNextBlock(d) != 1)
            return -1;
    const double rate = static_cast<double>(size) / seconds(t0);
    return up.commit(d) == 1 ? rate : -1;
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    TempDir dir;
    ScopedEnv ports("Z58_PORT_DIR", dir / "ports");
    {
        EmulatorProcess emu({"--register", "COM7"});
        Device d("COM7");
        std::vector<double> ms;
        const int rounds = quick ? 100 : 2000;
        for (int i = 0; i < rounds; ++i) {
            std::uint32_t serial = 0;
            const auto t0 = Clock::now();
            if (d.GetSerialNumber(serial) != 1) {
                std::fprintf(stderr, "GetSerialNumber failed\n");
                return 1;
            }
            ms.push_back(seconds(t0) * 1000);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("GetSerialNumber round trip: median %.3f ms, p99 %.3f ms (%d rounds)\n", ms[ms.size() / 2],
                    ms[ms.size() * 99 / 100], rounds);

        const double raw = rawPtyThroughput(quick ? 4u << 20 : 32u << 20);
        FirmwareImage fw;
        const EmbeddedResource blow = embeddedResource("blow");
        fw.load(blow.data, blow.size);
        const double fwRate = uploadRate(d, fw.stream.data(), fw.stream.size(), fw.imageCrc, fw.imageSize, true);
        SoundBank bank;
        const EmbeddedResource wave = embeddedResource("wave_list");
        bank.load(wave.data, wave.size);
        const double sndRate = uploadRate(d, bank.stream, bank.size, bank.dataCrc, bank.dataLength, false);
        std::printf("raw pty throughput: %.0f bytes/s\n", raw);
        std::printf("firmware upload (%zu bytes): %.0f bytes/s, %.1f%% of raw\n", fw.stream.size(), fwRate, 100 * fwRate / raw);
        std::printf("sound upload (%zu bytes): %.0f bytes/s, %.1f%% of raw\n", bank.size, sndRate, 100 * sndRate / raw);
    }
    {
        EmulatorProcess silent({"--register", "COM8", "--silent"});
        Device d("COM8");
        std::uint32_t serial = 0;
        const double cpu0 = cpuSeconds();
        const auto t0 = Clock::now();
        const int code = d.GetSerialNumber(serial);
        std::printf("silent controller: result %d after %.3f s wall, %.3f s CPU\n", code, seconds(t0), cpuSeconds() - cpu0);
    }
    return 0;
}
