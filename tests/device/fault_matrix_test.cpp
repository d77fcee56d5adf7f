// Every emulator fault against every device operation and both uploads: the
// exact result code, a duration within the time limit plus a margin, no file
// descriptor left behind, the port free again, and an upload reported done only
// when the controller confirmed its CRC.
#include "Device.h"
#include "Embedded.h"
#include "RunJob.h"
#include "SettingsWriteJob.h"
#include "EmulatorProcess.h"
#include "TempDir.h"
#include "Upload.h"
#include "Vcom_port.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <ostream>

namespace {

enum class Op {
    ReadSettings, WriteSettings, GetSerial, SetSerial, GetVersion, BeginFirmware, BeginSound,
    WriteBlock, CheckCrc, Calibration, Diagnostics, Restart, FirmwareUpload, SoundUpload, VerifiedWrite,
};
const Op kOps[] = {Op::ReadSettings, Op::WriteSettings, Op::GetSerial, Op::SetSerial, Op::GetVersion,
                   Op::BeginFirmware, Op::BeginSound, Op::WriteBlock, Op::CheckCrc, Op::Calibration,
                   Op::Diagnostics, Op::Restart, Op::FirmwareUpload, Op::SoundUpload, Op::VerifiedWrite};
const char* name(Op op) {
    static const char* names[] = {"ReadSettings", "WriteSettings", "GetSerial", "SetSerial", "GetVersion",
                                  "BeginFirmware", "BeginSound", "WriteBlock", "CheckCrc", "Calibration",
                                  "Diagnostics", "Restart", "FirmwareUpload", "SoundUpload", "VerifiedWrite"};
    return names[static_cast<int>(op)];
}
void PrintTo(Op op, std::ostream* os) { *os << name(op); }
bool isUpload(Op op) { return op == Op::FirmwareUpload || op == Op::SoundUpload; }

struct Fault {
    const char* id;
    std::vector<std::string> flags;
    // Result per operation; operations not listed give defaultCode.
    int defaultCode;
    std::map<Op, int> codes;
    bool linesVanish = false; // the line is gone after the failure
};

const Fault kFaults[] = {
    {"none", {}, 1, {}},
    {"silent", {"--silent"}, -2, {{Op::Restart, 1}}},
    {"wrong_type", {"--wrong-type"}, -3, {{Op::Restart, 1}}},
    {"flag_bit", {"--flag-bit"}, 1, {}},
    {"chunked", {"--chunked", "3:2"}, 1, {}},
    {"slow", {"--slow", "4500"}, -2, {{Op::Restart, 1}, {Op::BeginFirmware, 1}, {Op::BeginSound, 1}}},
    {"oversize", {"--oversize"}, -2, {{Op::Restart, 1}}},
    {"stop_ack", {"--stop-ack-after", "0"}, 1, {{Op::WriteBlock, -2}, {Op::FirmwareUpload, -2}, {Op::SoundUpload, -2}}},
    {"refuse_crc", {"--refuse-crc"}, 1, {{Op::CheckCrc, -3}, {Op::FirmwareUpload, -3}, {Op::SoundUpload, -3}}},
    {"vanish_after_fragment", {"--vanish-after", "1"}, 1,
     {{Op::WriteBlock, -2}, {Op::FirmwareUpload, -2}, {Op::SoundUpload, -2}}, true},
    {"vanish_mid_reply", {"--vanish-mid-reply", "1"}, -2, {{Op::Restart, 1}}, true},
    {"intrude_in_upload", {"--intrude-after", "1"}, 1, {{Op::WriteBlock, -3}, {Op::FirmwareUpload, -3}, {Op::SoundUpload, -3}}},
    // Controllers that do not keep every value: only the verified write can tell (0: not kept).
    {"drop_key", {"--drop-key", "AutoStart"}, 1, {{Op::VerifiedWrite, 0}}},
    {"limit_value", {"--limit", "MicLevel=8"}, 1, {{Op::VerifiedWrite, 0}}},
};

std::uint32_t limitOf(Op op) {
    switch (op) {
    case Op::BeginFirmware: return kFirmwareBeginTimeoutMs;
    case Op::BeginSound: return kSoundBeginTimeoutMs;
    case Op::FirmwareUpload: return kFirmwareBeginTimeoutMs + kReplyTimeoutMs;
    case Op::SoundUpload: return kSoundBeginTimeoutMs + kReplyTimeoutMs;
    case Op::VerifiedWrite: return 2 * kReplyTimeoutMs; // the write and its read-back
    default: return kReplyTimeoutMs;
    }
}

int openDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

FirmwareImage& firmware() {
    static FirmwareImage fw = [] {
        FirmwareImage f;
        const EmbeddedResource r = embeddedResource("blow");
        f.load(r.data, r.size);
        return f;
    }();
    return fw;
}

SoundBank& sound() {
    static SoundBank s = [] {
        SoundBank b;
        const EmbeddedResource r = embeddedResource("wave_list");
        b.load(r.data, r.size);
        return b;
    }();
    return s;
}

// An upload as both front ends run it: begin, every block, commit.
int upload(Device& d, bool firmwareJob) {
    const int begin = firmwareJob ? d.BeginFirmwareUpdate() : d.BeginSoundUpdate();
    if (begin < 0)
        return begin;
    UploadStepper up = firmwareJob ? UploadStepper(firmware().stream.data(), firmware().stream.size(),
                                                   firmware().imageCrc, firmware().imageSize)
                                   : UploadStepper(sound().stream, sound().size, sound().dataCrc, sound().dataLength);
    while (!up.allSent())
        if (const int code = up.sendNextBlock(d); code < 0)
            return code;
    return up.commit(d);
}

// The settings write job with its read-back: 1 when all was kept, 0 when the
// controller did not keep everything, else the failed exchange's code.
int verifiedWrite(Device& d) {
    struct Host : jobs::JobHost {
        int code = 0;
        bool ask(const jobs::Question&) override { return true; }
        void tell(const jobs::Notice&) override {}
        void log(const std::string&) override {}
        void detail(const std::string&) override {}
        void failed(const jobs::Failure& f) override { code = f.code; }
        void progress(const jobs::Progress&) override {}
    } host;
    static const ParameterList model(embeddedText("PARAMETER_LIST"));
    jobs::SettingsWriteJob::Options options;
    options.confirm = false;
    options.backup = false;
    jobs::SettingsWriteJob job(host, model, "MicLevel=12\nAutoStart=99\n", options);
    return runOn(std::shared_ptr<DeviceInterface>(&d, [](DeviceInterface*) {}), job) == jobs::Outcome::Done ? 1 : host.code;
}

int run(Device& d, Op op) {
    std::string text;
    std::uint32_t serial = 0;
    unsigned char diag[24];
    const unsigned char block[16] = {1, 2, 3};
    switch (op) {
    case Op::ReadSettings: return d.ReadSettings(text);
    case Op::WriteSettings: return d.WriteSettings("MicLevel=10\n");
    case Op::GetSerial: return d.GetSerialNumber(serial);
    case Op::SetSerial: return d.SetSerialNumber(5);
    case Op::GetVersion: return d.GetVersionInfo(text);
    case Op::BeginFirmware: return d.BeginFirmwareUpdate();
    case Op::BeginSound: return d.BeginSoundUpdate();
    case Op::WriteBlock: return d.WriteDataBlock(block, 0, sizeof block);
    case Op::CheckCrc: return d.CheckDataCrc(0, 0);
    case Op::Calibration: return d.StartCalibration(1, 2);
    case Op::Diagnostics: return d.ReadDiagnostics(diag);
    case Op::Restart: return d.RestartDevice();
    case Op::FirmwareUpload: return upload(d, true);
    case Op::SoundUpload: return upload(d, false);
    case Op::VerifiedWrite: return verifiedWrite(d);
    }
    return 0;
}

class FaultMatrix : public ::testing::TestWithParam<std::tuple<int, Op>> {};

} // namespace

TEST_P(FaultMatrix, exact_result_in_time_and_nothing_left_behind) {
    const Fault& fault = kFaults[std::get<0>(GetParam())];
    const Op op = std::get<1>(GetParam());
    TempDir dir;
    ScopedEnv ports("Z58_PORT_DIR", dir / "ports");
    std::vector<std::string> args = {"--register", "COM7"};
    args.insert(args.end(), fault.flags.begin(), fault.flags.end());
    EmulatorProcess emu(args);

    const int fdsBefore = openDescriptors();
    Device d("COM7");
    const auto t0 = std::chrono::steady_clock::now();
    const int code = run(d, op);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();

    const auto listed = fault.codes.find(op);
    int expected = listed != fault.codes.end() ? listed->second : fault.defaultCode;
    // A commit with nothing uploaded before it is never confirmed.
    if (op == Op::CheckCrc && expected == 1)
        expected = -3;
    EXPECT_EQ(code, expected);
    const bool slowReplies = fault.id == std::string("slow") || fault.id == std::string("chunked");
    EXPECT_LT(ms, limitOf(op) + (slowReplies ? 5000 : 1500) + (isUpload(op) && expected == 1 ? 6000 : 0));
    EXPECT_EQ(d.ReplyTimeout(), kReplyTimeoutMs);
    EXPECT_EQ(openDescriptors(), fdsBefore) << "the exchange closed its port";

    VCOM_Port again("COM7");
    const bool gone = fault.linesVanish && code == -2; // the unplug is what made it time out
    EXPECT_EQ(again.open(), !gone) << "the port is free again at once, unless the controller was unplugged";
    again.close();

    // After a failed upload the same device object starts a new one at once.
    if (isUpload(op) && code < 0) {
        EmulatorProcess healthy({"--register", "COM8"});
        d.SetPortName("COM8");
        EXPECT_EQ(upload(d, op == Op::FirmwareUpload), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultMatrix,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kFaults))), ::testing::ValuesIn(kOps)),
    [](const ::testing::TestParamInfo<FaultMatrix::ParamType>& info) {
        return std::string(kFaults[std::get<0>(info.param)].id) + "__" + name(std::get<1>(info.param));
    });
