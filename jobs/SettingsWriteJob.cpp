#include "SettingsWriteJob.h"

#include "BackupJob.h"
#include "Device.h"
#include "VerifyJob.h"

namespace jobs {

SettingsWriteJob::SettingsWriteJob(JobHost& host, DevicePtr device, const ParameterList& model, std::string text,
                                   Options options)
    : Job(host, std::move(device)), model_(model), text_(std::move(text)), options_(options) {}

std::optional<Exchange> SettingsWriteJob::step(int result) {
    switch (state_) {
    case State::Start:
        if (options_.confirm &&
            !host_.ask(Question{Topic::WriteSettings, "Записать настройки в устройство?", "Внимание", Buttons::OkCancel,
                                "Записать настройки в устройство?"}))
            return end(Outcome::Declined);
        state_ = State::Backup;
        if (options_.backup)
            return enter(std::make_unique<BackupJob>(host_, device_, BackupJob::Mode::BeforeOverwrite));
        return step(0);
    case State::Backup:
        if (const auto* backup = static_cast<const BackupJob*>(finishedChild())) {
            if (backup->outcome() == Outcome::Declined)
                return end(Outcome::Declined);
            backup_ = backup->path();
        }
        state_ = State::Write;
        return call([this](DeviceInterface& d) { return d.WriteSettings(text_); }, kReplyTimeoutMs);
    case State::Write:
        if (result < 0) {
            host_.failed(Failure{"Устройство не подключено или занято", "Ошибка", "Запись настроек", result, portWhy(), false, {}});
            return end(Outcome::Failed);
        }
        state_ = State::Verify;
        return enter(std::make_unique<VerifyJob>(host_, device_, model_, text_, options_.offerTake));
    case State::Verify: {
        const auto* verify = static_cast<const VerifyJob*>(finishedChild());
        if (verify->outcome() != Outcome::Done) {
            take_ = verify->takeKept();
            kept_ = verify->kept();
            return end(Outcome::Failed);
        }
        host_.tell(Notice{"Настройки записаны.", "Сообщение", "Настройки записаны.", false, false});
        return end(Outcome::Done);
    }
    }
    return end(Outcome::Failed);
}

} // namespace jobs
