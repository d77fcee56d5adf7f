// z58ctl commands that talk to the controller: the quick ones call the device
// at once, the service jobs run the desktop program's own jobs on a terminal host.
#include "BackupJob.h"
#include "Cli.h"
#include "Console.h"
#include "Cp1251.h"
#include "Device.h"
#include "Embedded.h"
#include "FirmwareJob.h"
#include "ParameterList.h"
#include "PortList.h"
#include "PortProblem.h"
#include "PortSearchJob.h"
#include "ReportJob.h"
#include "SettingsFile.h"
#include "SettingsLimit.h"
#include "SettingsWriteJob.h"
#include "SoundJob.h"
#include "TerminalHost.h"
#include "Upload.h"

#include <cstdio>
#include <memory>

namespace cli {

namespace {
// This run's device, so a failure can say why the port would not open.
std::weak_ptr<Device> g_device;
} // namespace

std::shared_ptr<Device> openDevice(const Args& a) {
    refreshPortNames(); // a controller plugged in a moment ago has its COMn now
    auto device = a.port.empty() ? std::make_shared<Device>() : std::make_shared<Device>(a.port);
    g_device = device;
    return device;
}

int deviceFailure(const char* what, int code) {
    const std::shared_ptr<Device> device = g_device.lock();
    if (device)
        for (const PortNotice& n : device->TakePortNotices())
            err(n.caption + ": " + n.text);
    err(std::string(what) + ": " + result::describe(code) + " (" + std::to_string(code) + ")");
    if (const std::string why = device ? portProblem(device->portName()) : std::string(); !why.empty())
        err(why);
    return kFailed;
}

int findPortCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl find-port"))
        return kUsage;
    TerminalHost host(a);
    jobs::PortSearchJob job(host, std::make_shared<Device>()); // the search starts from the remembered port
    return runJob(host, job);
}

int portsCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl ports"))
        return kUsage;
    for (const PresentPort& p : refreshPortNames()) {
        const std::string line = (p.name.empty() ? "-" : p.name) + "\t" + p.device + "\t" + usbIds(p) + "\t" +
                                 (p.serial.empty() ? "-" : p.serial) + "\t" + p.description;
        std::fputs((visible(line, true) + "\n").c_str(), stdout);
    }
    return kOk;
}

int doctorCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl doctor"))
        return kUsage;
    for (const std::string& line : portDoctorReport())
        std::fputs((visible(line, false) + "\n").c_str(), stdout);
    return kOk;
}

int serialCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl serial"))
        return kUsage;
    auto device = openDevice(a);
    std::uint32_t serial = 0;
    const int code = device->GetSerialNumber(serial);
    if (code < 0)
        return deviceFailure("Серийный номер", code);
    std::printf("%u\n", serial);
    return kOk;
}

int versionCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl version"))
        return kUsage;
    auto device = openDevice(a);
    std::string text;
    const int code = device->GetVersionInfo(text);
    if (code < 0)
        return deviceFailure("Версия ПО", code);
    DeviceInfo info;
    device->ParseVersionInfo(info, text.c_str());
    outVisibleLine(fieldText(info.deviceType));
    outVisibleLine(fieldText(info.firmwareVersion));
    outVisibleLine(fieldText(info.buildDate));
    return kOk;
}

int readSettingsCommand(const Args& a) {
    if (a.positional.size() > 1) {
        err("usage: z58ctl read-settings [FILE]");
        return kUsage;
    }
    auto list = loadModel();
    if (!list)
        return kFailed;
    auto device = openDevice(a);
    std::string text;
    const int code = device->ReadSettings(text);
    if (code < 0)
        return deviceFailure("Загрузка настроек", code);
    list->LoadSettingsText(text);
    return fileOperation([&] {
               if (a.positional.empty() && stdoutIsTerminal())
                   std::fputs(visible(cp1251::toUtf8(joinLinesCrLf(list->SettingsText())), true).c_str(), stdout);
               else if (a.positional.empty())
                   out(joinLinesCrLf(list->SettingsText()));
               else
                   writeSettingsFile(a.positional[0], list->SettingsText());
           })
               ? kOk
               : kFailed;
}

int writeSettingsCommand(const Args& a) {
    if (a.positional.size() != 1) {
        err("usage: z58ctl write-settings FILE [--keep KEY,...] [--keep-owner]");
        return kUsage;
    }
    auto list = loadModel();
    if (!list)
        return kFailed;
    jobs::SettingsWriteJob::Options options;
    options.confirm = false;
    options.backup = !a.noBackup;
    if (!keptKeys(a, *list, options.keep))
        return kUsage;
    if (!fileOperation([&] { list->LoadSettingsText(readSettingsFile(a.positional[0])); }))
        return kFailed;
    const std::string text = list->SettingsText();
    if (const std::string reason = settingsTooLongReason(*list, text); !reason.empty()) {
        err(reason);
        return kUsage;
    }
    TerminalHost host(a);
    jobs::SettingsWriteJob job(host, openDevice(a), *list, text, options);
    return runJob(host, job);
}

int backupCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl backup"))
        return kUsage;
    TerminalHost host(a);
    jobs::BackupJob job(host, openDevice(a), jobs::BackupJob::Mode::Standalone);
    return runJob(host, job);
}

int reportCommand(const Args& a) {
    if (!positionalCount(a, 1, "z58ctl report OUT.html"))
        return kUsage;
    auto model = loadModel();
    if (!model)
        return kFailed;
    TerminalHost host(a);
    jobs::ReportJob job(host, openDevice(a), *model, a.positional[0], {"z58ctl", {}, std::nullopt});
    return runJob(host, job);
}

int updateFirmwareCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl update-firmware [--yes]"))
        return kUsage;
    const EmbeddedResource r = embeddedResource("blow");
    FirmwareImage image;
    if (!image.load(r.data, r.size)) {
        err("встроенная прошивка повреждена");
        return kFailed;
    }
    auto model = loadModel();
    if (!model)
        return kFailed;
    TerminalHost host(a);
    jobs::FirmwareJob job(host, openDevice(a), image, *model, {!a.noBackup, false, !a.otherType});
    return runJob(host, job);
}

int updateSoundCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl update-sound [--yes]"))
        return kUsage;
    const EmbeddedResource r = embeddedResource("wave_list");
    SoundBank bank;
    if (!bank.load(r.data, r.size)) {
        err("встроенные звуковые данные повреждены");
        return kFailed;
    }
    TerminalHost host(a);
    jobs::SoundJob job(host, openDevice(a), bank);
    return runJob(host, job);
}

int restartCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl restart"))
        return kUsage;
    auto device = openDevice(a);
    const int code = device->RestartDevice();
    return code < 0 ? deviceFailure("Перезагрузка", code) : kOk;
}

int diagnosticsCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl diagnostics"))
        return kUsage;
    auto device = openDevice(a);
    unsigned char block[24];
    const int code = device->ReadDiagnostics(block);
    if (code < 0)
        return deviceFailure("Диагностика", code);
    for (size_t i = 0; i < sizeof block; ++i)
        std::printf("%02X%s", block[i], i + 1 < sizeof block ? " " : "\n");
    return kOk;
}

} // namespace cli
