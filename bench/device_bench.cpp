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
#include <sys/ioctl.h>
#include <sys/wait.h>
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

// Median and p99 ms of a raw exchange on a fresh pty: the parent writes request
// bytes, a child process on the other side reads them all and answers reply bytes.
struct Spread {
    double median, p99;
};
// window > 0: the request goes out as the program sends it, never more than
// window bytes queued in the line at a time.
Spread rawExchange(size_t request, size_t reply, int rounds, int window = 0) {
    int master, slave;
    termios t{};
    cfmakeraw(&t);
    openpty(&master, &slave, nullptr, &t, nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(slave);
        std::vector<char> in(request), out(reply, 'r');
        for (int i = 0; i < rounds; ++i) {
            for (size_t got = 0; got < request;) {
                const ssize_t n = read(master, in.data() + got, request - got);
                if (n <= 0)
                    _exit(1);
                got += static_cast<size_t>(n);
            }
            (void)!write(master, out.data(), out.size());
        }
        _exit(0);
    }
    close(master);
    std::vector<char> req(request, 'q'), rep(reply);
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        if (window == 0) {
            (void)!write(slave, req.data(), req.size());
        } else {
            for (size_t sent = 0; sent < request;) {
                int queued = 0;
                ioctl(slave, TIOCOUTQ, &queued);
                const size_t room = queued < window ? static_cast<size_t>(window - queued) : 0;
                const size_t n = std::min(room, request - sent);
                if (n > 0)
                    sent += static_cast<size_t>(std::max<ssize_t>(0, write(slave, req.data() + sent, n)));
            }
        }
        for (size_t got = 0; got < reply;) {
            const ssize_t n = read(slave, rep.data() + got, reply - got);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        ms.push_back(seconds(t0) * 1000);
    }
    close(slave);
    waitpid(child, nullptr, 0);
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[ms.size() * 99 / 100]};
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
        // The request is a bare header and trailer; the reply carries 4 bytes.
        const Spread trip = rawExchange(8, 12, rounds);
        std::printf("GetSerialNumber round trip: median %.3f ms, p99 %.3f ms (%d rounds); raw pty 8 -> 12 bytes: "
                    "median %.3f ms, p99 %.3f ms; ratio %.1fx / %.1fx\n",
                    ms[ms.size() / 2], ms[ms.size() * 99 / 100], rounds, trip.median, trip.p99, ms[ms.size() / 2] / trip.median,
                    ms[ms.size() * 99 / 100] / trip.p99);

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
        // One upload block is a 1024-byte fragment (+ offset and length) in a frame,
        // answered by an 8-byte acknowledgement frame.
        const Spread block = rawExchange(4 + 8 + 1024 + 4, 8, quick ? 200 : 2000);
        const Spread paced = rawExchange(4 + 8 + 1024 + 4, 8, quick ? 200 : 2000, 64);
        const double fwBlockMs = 1000.0 * 1024 / fwRate, sndBlockMs = 1000.0 * 1024 / sndRate;
        std::printf("per 1 KB block: firmware %.3f ms, sound %.3f ms; raw pty 1040 -> 8 bytes: median %.3f ms "
                    "(ratio %.1fx / %.1fx); raw through the 64-byte transmit window: median %.3f ms (ratio %.1fx / %.1fx)\n",
                    fwBlockMs, sndBlockMs, block.median, fwBlockMs / block.median, sndBlockMs / block.median, paced.median,
                    fwBlockMs / paced.median, sndBlockMs / paced.median);
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
