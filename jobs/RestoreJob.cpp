#include "RestoreJob.h"

#include "BackupStore.h"
#include "Device.h"
#include "VerifyJob.h"

#include <stdexcept>

namespace jobs {

RestoreJob::RestoreJob(JobHost& host, const ParameterList& model, std::string backupPath)
    : Job(host), model_(model), path_(std::move(backupPath)) {}

std::optional<Work> RestoreJob::step(int result) {
    switch (state_) {
    case State::Start:
        if (!host_.ask(Question{Topic::Restore,
                                "После обновления настройки могли сброситься.\n"
                                "Записать в устройство настройки, сохранённые перед обновлением?\n" + path_,
                                "Восстановление настроек", Buttons::OkCancel,
                                "Записать в устройство настройки, сохранённые перед обновлением (" + path_ + ")?"}))
            return end(Outcome::Declined);
        try {
            text_ = backupSettingsText(path_);
        } catch (const std::exception& e) {
            // The file went away or cannot be read since it was written.
            failing(Failure{e.what(), "Ошибка", e.what(), 0, {}, false, {}});
            return end(Outcome::Failed);
        }
        state_ = State::Write;
        return call([this](DeviceInterface& d) { return d.WriteSettings(text_); }, kReplyTimeoutMs);
    case State::Write:
        if (result < 0) {
            failing(Failure{"Устройство не подключено или занято", "Ошибка", "Восстановление настроек", result, portWhy(),
                                 true, {}});
            return end(Outcome::Failed);
        }
        state_ = State::Verify;
        return enter(std::make_unique<VerifyJob>(host_, model_, text_, false));
    case State::Verify:
        if (finishedChild()->outcome() != Outcome::Done)
            return end(Outcome::Failed);
        settle(Outcome::Done);
        host_.log("Настройки восстановлены из " + path_);
        return doneWith(Notice{"Настройки восстановлены.", "Сообщение", "Настройки восстановлены.", false, false});
    }
    return end(Outcome::Failed);
}

} // namespace jobs
