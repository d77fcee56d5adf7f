#pragma once
// A controller without a port: every operation is recorded as one line in
// calls (the frames the controller would have received, in order) and answers
// with the result scripted for it (1 unless told). For the jobs' tests.
#include "Device.h"
#include "DeviceInterface.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct ScriptedDevice : DeviceInterface {
    std::vector<std::string> calls;
    std::map<std::string, int> results; // by call name: "version", "begin-firmware", ...
    int failBlockAt = 0;                 // the block (1-based) that is not acknowledged
    std::string versionText = "QV_r2\n001.050\nNov 11 2019";
    std::string settingsText = "MicLevel=10\n";
    std::uint32_t serial = 77;
    std::string written;
    std::string searchReport = "Порт:\tCOM3\n";
    std::vector<PortNotice> notices;     // handed out after the next call
    std::vector<std::pair<std::uint32_t, std::vector<unsigned char>>> blocks;
    std::uint32_t committedCrc = 0, committedCount = 0;
    std::string port = "COM7";

    int result(const std::string& name) {
        calls.push_back(name);
        const auto it = results.find(name);
        return it == results.end() ? 1 : it->second;
    }
    int count(const std::string& name) const {
        int n = 0;
        for (const auto& c : calls)
            n += c == name;
        return n;
    }

    void SetPortName(const std::string& name) override { port = name; }
    int ReadSettings(std::string& text) override {
        const int r = result("read");
        if (r > 0)
            text = settingsText;
        return r;
    }
    // What the controller makes of a written text before it keeps it (all of it unless told).
    std::function<std::string(const std::string&)> keeps;
    int WriteSettings(const std::string& text) override {
        const int r = result("write");
        if (r > 0) {
            written = text;
            settingsText = keeps ? keeps(text) : text;
        }
        return r;
    }
    int GetSerialNumber(std::uint32_t& s) override {
        const int r = result("serial");
        if (r > 0)
            s = serial;
        return r;
    }
    int SetSerialNumber(std::uint32_t) override { return result("set-serial"); }
    int versionFailsAfter = 0;  // > 0: that many version reads answer, then none does
    int GetVersionInfo(std::string& text) override {
        int r = result("version");
        if (versionFailsAfter > 0 && count("version") > versionFailsAfter)
            r = -1;
        if (r > 0)
            text = versionText;
        return r;
    }
    int BeginFirmwareUpdate() override { return result("begin-firmware"); }
    int BeginSoundUpdate() override { return result("begin-sound"); }
    int WriteDataBlock(const unsigned char* d, std::uint32_t offset, std::uint16_t length) override {
        calls.push_back("block");
        if (static_cast<int>(blocks.size()) + 1 == failBlockAt)
            return -2;
        blocks.emplace_back(offset, std::vector<unsigned char>(d, d + length));
        return 1;
    }
    int CheckDataCrc(std::uint32_t crc, std::uint32_t n) override {
        committedCrc = crc;
        committedCount = n;
        return result("commit");
    }
    int StartCalibration(std::int16_t, std::int16_t) override { return result("calibration"); }
    int ReadDiagnostics(unsigned char (&block)[24]) override {
        const int r = result("diagnostics");
        for (int i = 0; r > 0 && i < 24; ++i)
            block[i] = static_cast<unsigned char>(0xA0 + i);
        return r;
    }
    int RestartDevice() override { return result("restart"); }
    int ParseVersionInfo(DeviceInfo& info, const char* text) override {
        info = parseVersionText(text);
        return 1;
    }
    std::string searchFinds = "COM3";  // the port the search moves to
    bool FindDevicePort(std::string& report) override {
        if (result("search") <= 0)
            return false;
        report = searchReport;
        port = searchFinds;
        return true;
    }
    const std::string& PortName() const override { return port; }
    void SetCancelFlag(const std::atomic<bool>*) override {}
    void SetSearchObserver(std::function<void(const std::string&)>) override {}
    void SetPortsInUse(std::function<bool(const std::string&)>) override {}
    std::vector<PortNotice> TakePortNotices() override { return std::exchange(notices, {}); }

    // The calls without the blocks, each run of blocks as "blocks N".
    std::vector<std::string> frames() const {
        std::vector<std::string> out;
        for (const auto& c : calls) {
            if (c == "block") {
                if (!out.empty() && out.back().rfind("blocks ", 0) == 0)
                    out.back() = "blocks " + std::to_string(std::stoi(out.back().substr(7)) + 1);
                else
                    out.push_back("blocks 1");
            } else {
                out.push_back(c);
            }
        }
        return out;
    }
};
