#include "FirmwareJob.h"

#include "BackupJob.h"
#include "Cp1251.h"
#include "Device.h"
#include "DeviceInfo.h"
#include "RestoreJob.h"
#include "UploadSlot.h"

namespace jobs {

namespace {
const char kBusy[] = "Устройство не подключено или занято";
const char kCancelled[] = "Обновление отменено";
const char kCancelledLine[] = "Обновление отменено.";
} // namespace

FirmwareJob::FirmwareJob(JobHost& host, DevicePtr device, const FirmwareImage& image, Options options)
    : Job(host, std::move(device)), image_(image), options_(options) {}

FirmwareJob::~FirmwareJob() { uploadSlot().release(this); }

std::optional<Exchange> FirmwareJob::stop(Outcome outcome) {
    uploading_ = false;
    uploadSlot().release(this);
    return end(outcome);
}

std::optional<Exchange> FirmwareJob::nextBlock() {
    return call([this](DeviceInterface& d) { return upload_->sendNextBlock(d); }, kReplyTimeoutMs, Pace::FirmwareTick);
}

std::optional<Exchange> FirmwareJob::step(int result) {
    switch (state_) {
    case State::Start:
        if (!host_.ask(Question{Topic::StartFirmware,
                                "После обновления возможно произойдет сброс настроек.\n"
                                "Рекомендуется сохранить текущие настройки. (Кнопка \"Сохранить в файл\").\n"
                                "Начать обновление ?",
                                "Внимание", Buttons::OkCancel,
                                "После обновления возможно произойдет сброс настроек. Начать обновление?"}))
            return end(Outcome::Declined);
        if (!uploadSlot().claim(this, UploadKind::Firmware)) {
            host_.failed(Failure{"Идет загрузка звуковых данных.\nОбновление прошивки возможно после её окончания.", "Ошибка",
                                 "Идет загрузка звуковых данных", 0, {}, false, {}});
            return end(Outcome::Failed);
        }
        host_.changed();
        state_ = State::Version;
        return call([this](DeviceInterface& d) { return d.GetVersionInfo(version_); }, kReplyTimeoutMs);

    case State::Version: {
        if (result < 0) {
            host_.failed(Failure{kBusy, "Ошибка", kBusy, result, portWhy(), true, {}});
            return stop(Outcome::Failed);
        }
        DeviceInfo info;
        device_->ParseVersionInfo(info, version_.c_str());
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
        if (options_.backup)
            return enter(std::make_unique<BackupJob>(host_, device_, BackupJob::Mode::BeforeOverwrite));
        return step(0);
    }

    case State::Backup:
        if (const auto* backup = static_cast<const BackupJob*>(finishedChild())) {
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
            host_.failed(Failure{kBusy, "Ошибка", kCancelled, result, portWhy(), true, kCancelledLine});
            return stop(Outcome::Failed);
        }
        host_.log("Загрузка новой версии программы ...");
        bar_ = 0;
        host_.progress(Progress{0, static_cast<int>(image_.imageSize / kUploadBlockSize + 1)});
        upload_.emplace(image_.stream.data(), image_.stream.size(), image_.imageCrc, image_.imageSize);
        state_ = State::Block;
        return nextBlock();

    case State::Block: {
        if (result < 0) {
            host_.detail("Ошибка при передачи данных (блок " + std::to_string(upload_->blocksSent() + 1) + ", смещение " +
                         std::to_string(upload_->position()) + ")");
            host_.failed(Failure{"Ошибка при передачи данных", "Ошибка", kCancelled, result, portWhy(), false, kCancelledLine});
            return stop(Outcome::Failed);
        }
        ++bar_;
        host_.progress(Progress{bar_, -1, upload_->blocksSent(), upload_->blockCount(), upload_->position(), upload_->size()});
        if (!upload_->allSent())
            return nextBlock();
        // The finishing tick: the commit runs one tick after the last block.
        state_ = State::Finish;
        Exchange tick;
        tick.pace = Pace::FirmwareTick;
        return tick;
    }

    case State::Finish:
        host_.progress(Progress{static_cast<int>(image_.imageSize / kUploadBlockSize + 1)});
        uploading_ = false;
        host_.changed();
        state_ = State::Commit;
        return call([this](DeviceInterface& d) { return upload_->commit(d); }, kReplyTimeoutMs);

    case State::Commit:
        uploadSlot().release(this);
        host_.changed();
        if (result < 0) {
            host_.detail("Нет подтвеждения CRC");
            host_.failed(Failure{"Нет подтвеждения CRC", "Ошибка обновления.", kCancelled, result, portWhy(), false,
                                 kCancelledLine});
            return end(Outcome::Failed);
        }
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
            restartFailed_ = true;
            host_.failed(Failure{{}, {}, "Перезагрузка", result, portWhy(), false, {}});
        }
        host_.tell(Notice{"Дождитесь звукового сигнала подключения устройства и нажмите OK", "Перезагрузка ...",
                          "Перезагрузка ...", false, restartFailed_});
        state_ = State::Restore;
        if (options_.offerRestore && !backup_.empty())
            return enter(std::make_unique<RestoreJob>(host_, device_, backup_));
        return step(0);

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
