#pragma once
// The Windows side of the emulator seam: requests go as files to the folder
// named by Z58_EMU_BROKER, which tools/windows.sh watches. req-ID holds the
// arguments one per line; the runner answers ready-ID ("READY <pty>" or
// "FAILED <why>"), and after stop-ID it answers stopped-ID.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

class EmulatorProcess {
public:
    explicit EmulatorProcess(std::vector<std::string> args, int readyTimeoutMs = 5000) {
        const char* broker = std::getenv("Z58_EMU_BROKER");
        if (!broker || !*broker)
            throw std::runtime_error("no emulator broker: run the Windows tests through ./run windows");
        dir_ = broker;
        static int counter = 0;
        id_ = std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
        {
            std::ofstream req(dir_ / ("req-" + id_ + ".tmp"), std::ios::binary);
            for (const auto& a : args)
                req << a << "\n";
        }
        std::filesystem::rename(dir_ / ("req-" + id_ + ".tmp"), dir_ / ("req-" + id_));
        const std::string answer = await("ready-" + id_, readyTimeoutMs);
        if (answer.rfind("READY ", 0) != 0)
            throw std::runtime_error("z58emu did not get ready: " + answer);
        path_ = answer.substr(6);
    }
    ~EmulatorProcess() {
        std::ofstream(dir_ / ("stop-" + id_)).close();
        try {
            await("stopped-" + id_, 5000);
        } catch (...) {
        }
    }
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string await(const std::string& name, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const auto file = dir_ / name;
        while (std::chrono::steady_clock::now() < end) {
            std::error_code ec;
            if (std::filesystem::exists(file, ec)) {
                std::ifstream in(file, std::ios::binary);
                std::string line;
                std::getline(in, line);
                in.close();
                std::filesystem::remove(file, ec);
                return line;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        throw std::runtime_error("the emulator broker did not answer " + name);
    }

    std::filesystem::path dir_;
    std::string id_;
    std::string path_;
};
