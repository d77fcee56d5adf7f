#include "FirmwareJob.h"

#include "BackupJob.h"
#include "Cp1251.h"
#include "Device.h"
#include "DeviceInfo.h"
#include "RestoreJob.h"

#include <chrono>
#include <thread>

namespace jobs {

namespace {
const char kBusy[] = "Устройство не подключено или занято";
const char kCancelledLine[] = "Обновление отменено.";
// Between two questions while it is away.
constexpr auto kAskAgainAfter = std::chrono::milliseconds(250);
} // namespace

FirmwareJob::FirmwareJob(JobHost& host, Carried image, const ParameterList& model, Options options)
    : UploadJob(host, UploadKind::Firmware, Pace::FirmwareTick), carried_(image), model_(model), options_(options) {}

void FirmwareJob::interrupted() {
    uploading_ = false;
    *dropped_ = true;
    UploadJob::interrupted();
}

std::optional<Work> FirmwareJob::awaitBack() {
    state_ = State::Back;
    // One piece of work: while the controller restarts its port may be gone,
    // and each question fails at once; the pauses between them sleep.
    if (options_.findBack)
        return call([this, dropped = dropped_](DeviceInterface& d) { return options_.findBack(d, versionAfter_, *dropped); },
                    options_.backAfterRestartMs);
    return call([this, dropped = dropped_](DeviceInterface& d) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.backAfterRestartMs);
        for (;;) {
            std::string text;
            const int code = d.GetVersionInfo(text);
            if (code > 0) {
                versionAfter_ = fieldText(parseVersionText(text.c_str()).firmwareVersion);
                return code;
            }
            if (*dropped || std::chrono::steady_clock::now() + kAskAgainAfter >= until)
                return code;
            std::this_thread::sleep_for(kAskAgainAfter);
        }
    }, options_.backAfterRestartMs);
}

std::optional<Work> FirmwareJob::stop(Outcome outcome) {
    uploading_ = false;
    return UploadJob::stop(outcome);
}

std::optional<Work> FirmwareJob::step(int result) {
    switch (state_) {
    case State::Start:
        if (!image_.load(carried_.data, carried_.size)) {
            failing(Failure{"Встроенный ресурс \"blow\" не найден или повреждён", "Ошибка",
                                 "встроенная прошивка повреждена", 0, {}, false, {}});
            return end(Outcome::Failed);
        }
        if (!host_.ask(Question{Topic::StartFirmware,
                                "После обновления возможно произойдет сброс настроек.\n"
                                "Рекомендуется сохранить текущие настройки. (Кнопка \"Сохранить в файл\").\n"
                                "Начать обновление ?",
                                "Внимание", Buttons::OkCancel,
                                "После обновления возможно произойдет сброс настроек. Начать обновление?"}))
            return end(Outcome::Declined);
        if (!claim())
            return end(Outcome::Failed);
        host_.changed();
        state_ = State::Version;
        return call([this](DeviceInterface& d) { return d.GetVersionInfo(version_); }, kReplyTimeoutMs);

    case State::Version: {
        if (result < 0) {
            failing(Failure{kBusy, "Ошибка", kBusy, result, portWhy(), true, {}});
            return stop(Outcome::Failed);
        }
        noteVersion(version_);
        const DeviceInfo info = parseVersionText(version_.c_str());
        // Before anything else is sent: the image is for one model only.
        const std::string type = fieldText(info.deviceType), imageType = fieldText(image_.info.deviceType);
        if (type != imageType) {
            const std::string text = "Тип устройства «" + cp1251::toUtf8(type) + "» не совпадает с типом прошивки «" +
                                     cp1251::toUtf8(imageType) + "».\nЗагрузка чужой прошивки может вывести устройство из строя.";
            if (options_.askOtherType &&
                !host_.ask(Question{Topic::OtherDeviceType, text + "\nПродолжить?", "Внимание", Buttons::YesNoDefaultNo,
                                    "Тип устройства «" + cp1251::toUtf8(type) + "» не совпадает с типом прошивки «" +
                                        cp1251::toUtf8(imageType) + "». Продолжить?"}))
                return stop(Outcome::Declined);
        }
        const std::string installed = fieldText(info.firmwareVersion);
        const std::string carried = fieldText(image_.info.firmwareVersion);
        host_.detail("Версия в устройстве: " + cp1251::toUtf8(installed) + ", загружаемая: " + cp1251::toUtf8(carried));
        if (compareVersions(installed, carried) >= 0 &&
            !host_.ask(Question{Topic::FirmwareNotNewer,
                                "Устройство уже содержит новейшую или равную версию.\n" + std::string(25, ' ') +
                                    "Обновлять или нет?",
                                "Внимание", Buttons::YesNo,
                                "Устройство уже содержит новейшую или равную версию. Обновлять или нет?"}))
            return stop(Outcome::Declined);
        state_ = State::Backup;
        // The update may reset the settings: keep them first, to offer them back.
        return backUpFirst(options_.backup);
    }

    case State::Backup:
        if (const BackupJob* backup = finishedBackup()) {
            if (backup->outcome() == Outcome::Declined)
                return stop(Outcome::Declined);
            backup_ = backup->path();
        }
        host_.progress(Progress{0, 100});
        uploading_ = true;
        host_.changed();
        host_.log("Подготовка к обновлению, ждите ...");
        state_ = State::Begin;
        return call([](DeviceInterface& d) { return d.BeginFirmwareUpdate(); }, kFirmwareBeginTimeoutMs);

    case State::Begin:
        if (result < 0) {
            failing(Failure{kBusy, "Ошибка", "Обновление отменено", result, portWhy(), true, kCancelledLine});
            return stop(Outcome::Failed);
        }
        host_.log("Загрузка новой версии программы ...");
        state_ = State::Block;
        // The bar counts the image's kilobytes, not the stream's.
        return firstBlock(image_.stream.data(), image_.stream.size(), image_.imageCrc, image_.imageSize,
                          static_cast<int>(image_.imageSize / kUploadBlockSize + 1));

    case State::Block:
        if (result < 0)
            uploading_ = false;
        else if (allSent())
            state_ = State::Finish;
        return afterBlock(result, kCancelledLine);

    case State::Finish:
        uploading_ = false;
        host_.changed();
        state_ = State::Commit;
        return commit();

    case State::Commit:
        if (!committed(result, kCancelledLine))
            return std::nullopt;
        host_.log("Загрузка закончена.");
        if (!host_.ask(Question{Topic::Restart,
                                "Новая версия програмы загружена.\nДля применения нужна перезагрузка.\nПерегрузить прибор сейчас ?",
                                "Внимание", Buttons::OkCancel,
                                "Новая версия програмы загружена. Для применения нужна перезагрузка. Перегрузить прибор сейчас?"})) {
            state_ = State::Restore;
            return step(0);
        }
        state_ = State::Restart;
        return call([](DeviceInterface& d) { return d.RestartDevice(); }, kReplyTimeoutMs);

    case State::Restart:
        if (result < 0) {
            // Nothing restarted the controller: the new firmware is not running yet.
            restartFailed_ = true;
            failing(Failure{"Устройство не подключено или занято.\nПерезагрузка не выполнена: отключите питание "
                                 "устройства и включите его снова.",
                                 "Ошибка", "Перезагрузка", result, portWhy(), true, {}},
                    false);
        } else {
            host_.tell(Notice{"Дождитесь звукового сигнала подключения устройства и нажмите OK", "Перезагрузка ...",
                              "Перезагрузка ...", false, false});
        }
        // The saved settings are offered only to a controller that answers again.
        if ((options_.offerRestore && !backup_.empty()) || (options_.findBack && !restartFailed_))
            return awaitBack();
        state_ = State::Restore;
        return step(0);

    case State::Back:
        if (result < 0) {
            const std::string text = backup_.empty() ? std::string("Устройство не ответило после перезагрузки.")
                                                     : "Устройство не ответило после перезагрузки.\nНастройки, сохранённые перед "
                                                       "обновлением, можно записать позже: " + backup_;
            failing(Failure{text, "Внимание", "Устройство не ответило после перезагрузки", result, portWhy(), false, {}},
                    false);
            restartFailed_ = true;
            state_ = State::Restore;
            return step(0);
        }
        if (journal::JobRecord* r = record())
            r->firmwareAfter = cp1251::toUtf8(versionAfter_);
        state_ = State::Restore;
        if (!options_.offerRestore || backup_.empty())
            return step(0);
        return enter(std::make_unique<RestoreJob>(host_, model_, backup_));

    case State::Restore:
        // A new firmware may start from its defaults; the way back is one command.
        if (!options_.offerRestore && !backup_.empty())
            host_.detail("Вернуть прежние настройки после перезагрузки: z58ctl write-settings \"" + backup_ + "\"");
        if (restartFailed_)
            return end(Outcome::Failed);
        if (const Job* restore = finishedChild(); restore && restore->outcome() == Outcome::Failed)
            return end(Outcome::Failed);
        return end(Outcome::Done);
    }
    return stop(Outcome::Failed);
}

} // namespace jobs
