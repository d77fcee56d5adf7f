#include "BackupJob.h"

#include "BackupStore.h"
#include "Device.h"
#include "ResultCode.h"

#include <stdexcept>

namespace jobs {

BackupJob::BackupJob(JobHost& host, Mode mode) : Job(host), mode_(mode) {}

std::optional<Work> BackupJob::step(int result) {
    switch (state_) {
    case State::Start:
        state_ = State::ReadSettings;
        return call([this](DeviceInterface& d) { return d.ReadSettings(text_); }, kReplyTimeoutMs);
    case State::ReadSettings:
        if (result < 0)
            return failedBackup(std::string("Устройство не ответило: ") + result::describe(result), result::describe(result),
                                "Загрузка настроек", result);
        settings_ = text_;
        state_ = State::ReadSerial;
        return call([this](DeviceInterface& d) { return d.GetSerialNumber(serial_); }, kReplyTimeoutMs);
    case State::ReadSerial:
        if (result < 0)
            return failedBackup(std::string("Устройство не ответило: ") + result::describe(result), result::describe(result),
                                "Серийный номер", result);
        serialRead_ = serial_;
        noteSerial(serial_);
        try {
            path_ = saveBackup(serial_, text_);
        } catch (const std::exception& e) {
            return failedBackup(e.what(), e.what(), nullptr, 0);
        }
        // The text itself: a restore from the journal needs no file of this PC.
        if (journal::JobRecord* r = record())
            journal::noteBackup(*r, path_, text_);
        if (mode_ == Mode::Standalone)
            return doneWith(Notice{path_ + "\n", {}, {}, true, false});
        host_.log("Резервная копия настроек: " + path_);
        return end(Outcome::Done);
    }
    return end(Outcome::Failed);
}

std::optional<Work> BackupJob::failedBackup(const std::string& forWindow, const std::string& forTerminal,
                                                const char* what, int code) {
    path_.clear();
    if (mode_ == Mode::Standalone) {
        Failure f;
        f.what = what ? what : forTerminal;
        f.code = code;
        if (code < 0)
            f.why = portWhy();
        return failWith(f);
    }
    host_.detail("Резервная копия настроек не сохранена: " + forTerminal);
    const bool goOn = host_.ask(Question{Topic::NoBackup,
                                         "Не удалось сохранить резервную копию настроек.\n" + forWindow + "\nПродолжить без неё?",
                                         "Внимание", Buttons::OkCancel, "Продолжить без резервной копии?"});
    return end(goOn ? Outcome::Done : Outcome::Declined);
}

} // namespace jobs
