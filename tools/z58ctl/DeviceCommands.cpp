// z58ctl commands that talk to the controller, through the same Device
// operations and upload steppers as the desktop program.
#include "BackupStore.h"
#include "Cli.h"
#include "Cp1251.h"
#include "Device.h"
#include "Embedded.h"
#include "ParameterList.h"
#include "PortList.h"
#include "PortProblem.h"
#include "SettingsFile.h"
#include "SettingsLimit.h"
#include "Upload.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace cli {

namespace {
// The port of this run's device, so a failure can say why the port would not open.
std::string g_port;
} // namespace

std::unique_ptr<Device> openDevice(const Args& a) {
    refreshPortNames(); // a controller plugged in a moment ago has its COMn now
    auto device = a.port.empty() ? std::make_unique<Device>() : std::make_unique<Device>(a.port);
    g_port = device->portName();
    return device;
}

int deviceFailure(const char* what, int code) {
    err(std::string(what) + ": " + result::describe(code) + " (" + std::to_string(code) + ")");
    if (const std::string why = portProblem(g_port); !why.empty())
        err(why);
    return kFailed;
}

namespace {

// Collects the core's notifications so the command decides where they go.
struct CollectingNotifier : z58::Notifier {
    std::vector<std::pair<std::string, std::string>> messages; // caption, text
    z58::Notifier* previous = z58::setNotifier(this);
    ~CollectingNotifier() override { z58::setNotifier(previous); }
    void message(z58::OwnerHandle, const std::string& text, const std::string& caption) override {
        messages.emplace_back(caption, text);
    }
};

// A declined job says so and exits with its own code, so a script never takes
// "nothing happened" for "done".
int declined() {
    err("Отменено: в устройство ничего не отправлено.");
    return kDeclined;
}

bool ask(const Args& a, const std::string& question) {
    if (a.yes)
        return true;
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y' || answer.rfind("д", 0) == 0 || answer.rfind("Д", 0) == 0);
}

// The controller's settings saved before something overwrites them. Declined
// when the backup failed and the user would not go on without it.
enum class Backup { Taken, Skipped, Declined };
Backup takeBackup(const Args& a, Device& device, std::string& path) {
    if (a.noBackup)
        return Backup::Skipped;
    std::string text;
    std::uint32_t serial = 0;
    int code = device.ReadSettings(text);
    if (code >= 0)
        code = device.GetSerialNumber(serial);
    std::string why = code < 0 ? result::describe(code) : std::string();
    if (code >= 0) {
        try {
            path = saveBackup(serial, text);
            err("Резервная копия настроек: " + path);
            return Backup::Taken;
        } catch (const std::exception& e) {
            why = e.what();
        }
    }
    err("Резервная копия настроек не сохранена: " + why);
    return ask(a, "Продолжить без резервной копии?") ? Backup::Skipped : Backup::Declined;
}

// Drives an upload block by block with progress on stderr. 0 when every block
// was acknowledged and the controller confirmed the CRC.
int runUpload(Device& device, UploadStepper& upload) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const bool tty = isatty(STDERR_FILENO);
    int lastTenth = -1;
    while (!upload.allSent()) {
        const size_t offset = upload.position();
        const int code = upload.sendNextBlock(device);
        if (code < 0) {
            if (tty)
                std::fputc('\n', stderr);
            err("Ошибка при передачи данных (блок " + std::to_string(upload.blocksSent() + 1) + ", смещение " +
                std::to_string(offset) + ")");
            return deviceFailure("Обновление отменено", code);
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const int percent = static_cast<int>(100.0 * static_cast<double>(upload.position()) / static_cast<double>(upload.size()));
        const double rate = seconds > 0 ? static_cast<double>(upload.position()) / seconds : 0;
        if (tty || percent / 10 != lastTenth || upload.allSent()) {
            std::fprintf(stderr, "%sблок %zu/%zu  %3d%%  %.0f байт/с%s", tty ? "\r" : "", upload.blocksSent(),
                         upload.blockCount(), percent, rate, tty ? "" : "\n");
            lastTenth = percent / 10;
        }
    }
    if (tty)
        std::fputc('\n', stderr);
    const int code = upload.commit(device);
    if (code < 0) {
        err("Нет подтвеждения CRC");
        return deviceFailure("Обновление отменено", code);
    }
    return kOk;
}

} // namespace

int findPortCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl find-port"))
        return kUsage;
    CollectingNotifier notes;
    Device device; // the search starts from the remembered port
    const bool found = device.FindDevicePort(nullptr);
    for (const auto& [caption, text] : notes.messages) {
        if (found && caption == "Устройство найдено")
            std::fputs(visible(text, true).c_str(), stdout);
        else
            err(caption + ": " + visible(text, true));
    }
    if (!found)
        for (const PresentPort& p : refreshPortNames())
            if (const std::string why = p.name.empty() ? std::string() : portProblem(p.name); !why.empty())
                err(p.name + ": " + why);
    return found ? kOk : kFailed;
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
               if (a.positional.empty() && isatty(STDOUT_FILENO))
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
        err("usage: z58ctl write-settings FILE");
        return kUsage;
    }
    auto list = loadModel();
    if (!list)
        return kFailed;
    if (!fileOperation([&] { list->LoadSettingsText(readSettingsFile(a.positional[0])); }))
        return kFailed;
    const std::string text = list->SettingsText();
    if (const std::string reason = settingsTooLongReason(*list, text); !reason.empty()) {
        err(reason);
        return kUsage;
    }
    auto device = openDevice(a);
    std::string backup;
    if (takeBackup(a, *device, backup) == Backup::Declined)
        return declined();
    const int code = device->WriteSettings(text);
    if (code < 0)
        return deviceFailure("Запись настроек", code);
    err("Настройки записаны.");
    return kOk;
}

int backupCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl backup"))
        return kUsage;
    auto device = openDevice(a);
    std::string text;
    std::uint32_t serial = 0;
    int code = device->ReadSettings(text);
    if (code < 0)
        return deviceFailure("Загрузка настроек", code);
    code = device->GetSerialNumber(serial);
    if (code < 0)
        return deviceFailure("Серийный номер", code);
    std::string path;
    if (!fileOperation([&] { path = saveBackup(serial, text); }))
        return kFailed;
    std::fputs((path + "\n").c_str(), stdout);
    return kOk;
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
    if (!ask(a, "После обновления возможно произойдет сброс настроек. Начать обновление?"))
        return declined();
    auto device = openDevice(a);
    std::string text;
    int code = device->GetVersionInfo(text);
    if (code < 0)
        return deviceFailure("Устройство не подключено или занято", code);
    DeviceInfo current;
    device->ParseVersionInfo(current, text.c_str());
    const std::string installed = fieldText(current.firmwareVersion), carried = fieldText(image.info.firmwareVersion);
    err("Версия в устройстве: " + visible(cp1251::toUtf8(installed), false) + ", загружаемая: " + cp1251::toUtf8(carried));
    if (compareVersions(installed, carried) >= 0 &&
        !ask(a, "Устройство уже содержит новейшую или равную версию. Обновлять или нет?"))
        return declined();
    std::string backup;
    if (takeBackup(a, *device, backup) == Backup::Declined)
        return declined();
    err("Подготовка к обновлению, ждите ...");
    code = device->BeginFirmwareUpdate();
    if (code < 0)
        return deviceFailure("Обновление отменено", code);
    err("Загрузка новой версии программы ...");
    UploadStepper upload(image.stream.data(), image.stream.size(), image.imageCrc, image.imageSize);
    if (const int rc = runUpload(*device, upload); rc != kOk)
        return rc;
    err("Загрузка закончена.");
    if (ask(a, "Новая версия програмы загружена. Для применения нужна перезагрузка. Перегрузить прибор сейчас?")) {
        code = device->RestartDevice();
        if (code < 0)
            return deviceFailure("Перезагрузка", code);
        err("Перезагрузка ...");
    }
    // A new firmware may start from its defaults; the way back is one command.
    if (!backup.empty())
        err("Вернуть прежние настройки после перезагрузки: z58ctl write-settings \"" + backup + "\"");
    return kOk;
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
    if (!ask(a, "Произвести загрузку звуковых данных? Старые данные будут удалены безвозвратно!"))
        return declined();
    auto device = openDevice(a);
    err("Подготовка к записи, ждите...");
    const int code = device->BeginSoundUpdate();
    if (code < 0)
        return deviceFailure("Устройство не подключено или занято. Обновление отменено", code);
    err("Идет запись звуковых данных...");
    UploadStepper upload(bank.stream, bank.size, bank.dataCrc, bank.dataLength);
    if (const int rc = runUpload(*device, upload); rc != kOk)
        return rc;
    err("Данные успешно записаны.");
    return kOk;
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
