#include "SettingsWriteJob.h"

#include "BackupJob.h"
#include "ChangeEntries.h"
#include "Cp1251.h"
#include "Device.h"
#include "OwnerValues.h"
#include "SettingsLimit.h"
#include "VerifyJob.h"

#include <algorithm>

namespace jobs {

SettingsWriteJob::SettingsWriteJob(JobHost& host, const ParameterList& model, std::string text,
                                   Options options)
    : Job(host), model_(model), text_(std::move(text)), options_(std::move(options)) {}

std::optional<Work> SettingsWriteJob::step(int result) {
    switch (state_) {
    case State::Start:
        if (const std::string reason = settingsTooLongReason(model_, text_); !reason.empty()) {
            failing(Failure{reason, "Ошибка", reason, 0, {}, false, {}});
            return end(Outcome::Refused);
        }
        if (options_.confirm &&
            !host_.ask(Question{Topic::WriteSettings, "Записать настройки в устройство?", "Внимание", Buttons::OkCancel,
                                "Записать настройки в устройство?"}))
            return end(Outcome::Declined);
        state_ = State::Backup;
        return backUpFirst(options_.backup);
    case State::Backup:
        if (const BackupJob* backup = finishedBackup()) {
            if (backup->outcome() == Outcome::Declined)
                return end(Outcome::Declined);
            backup_ = backup->path();
            controller_ = backup->settings();
            serial_ = backup->serial();
        }
        // The backup's read is the one read: only without a backup is there another.
        if (!controller_ && !options_.backup && (options_.choose || !options_.keep.empty() || ownerMayBeKept())) {
            state_ = State::Read;
            return call([this](DeviceInterface& d) { return d.ReadSettings(read_); }, kReplyTimeoutMs);
        }
        return chooseAndWrite();
    case State::Read:
        if (result < 0) {
            failing(Failure{"Устройство не подключено или занято", "Ошибка", "Загрузка настроек", result, portWhy(), false, {}});
            return end(Outcome::Failed);
        }
        controller_ = read_;
        // Only the serial tells this controller's own backup from another's.
        if (ownerMayBeKept() && options_.fileSerial) {
            state_ = State::Serial;
            return call([this](DeviceInterface& d) { return d.GetSerialNumber(readSerial_); }, kReplyTimeoutMs);
        }
        return chooseAndWrite();
    case State::Serial:
        if (result < 0) {
            failing(Failure{"Устройство не подключено или занято", "Ошибка", "Серийный номер", result, portWhy(), false, {}});
            return end(Outcome::Failed);
        }
        serial_ = readSerial_;
        return chooseAndWrite();
    case State::Write:
        if (result < 0) {
            failing(Failure{"Устройство не подключено или занято", "Ошибка", "Запись настроек", result, portWhy(), false, {}});
            return end(Outcome::Failed);
        }
        state_ = State::Verify;
        return enter(std::make_unique<VerifyJob>(host_, model_, text_, options_.offerTake));
    case State::Verify: {
        const auto* verify = static_cast<const VerifyJob*>(finishedChild());
        readBack_ = verify->kept();
        if (verify->outcome() != Outcome::Done) {
            take_ = verify->takeKept();
            kept_ = verify->kept();
            return end(Outcome::Failed);
        }
        return doneWith(Notice{"Настройки записаны.", "Сообщение", "Настройки записаны.", false, false});
    }
    }
    return end(Outcome::Failed);
}

std::optional<Work> SettingsWriteJob::chooseAndWrite() {
    if (controller_) {
        std::vector<std::string> keep = options_.keep;
        // A file of another controller (or of none known) would hand this
        // controller someone else's PIN and phone numbers.
        const bool foreignFile = ownerMayBeKept() && (!options_.fileSerial || !serial_ || *options_.fileSerial != *serial_);
        if (foreignFile)
            keep.insert(keep.end(), ownerKeys().begin(), ownerKeys().end());
        ChangeList list{chooseChanges(model_, *controller_, text_, keep), true};
        if (options_.choose && !host_.choose(list))
            return end(Outcome::Declined);
        if (journal::JobRecord* r = record())
            r->changes = journal::confirmedChanges(list.rows);
        for (const ChangeChoice& row : list.rows)
            if (!row.write) // no value: the kept one may be the owner's PIN
                host_.detail(cp1251::toUtf8(row.change.name == row.change.key ? row.change.key + ": "
                                                                               : row.change.name + " (" + row.change.key + "): ") +
                             kKeptNote);
        leftOut_ = list.rows.size() - writtenCount(list.rows);
        if (leftOut_ > 0) {
            text_ = textToWrite(model_, text_, list.rows);
            // The controller's values can make the text longer than it takes.
            if (const std::string reason = settingsTooLongReason(model_, text_); !reason.empty()) {
                failing(Failure{reason, "Ошибка", reason, 0, {}, false, {}});
                return end(Outcome::Failed);
            }
        }
    } else if (options_.choose) {
        // Not read (the user went on without a backup): the list can only say
        // what changes against the last load, and nothing can be left out.
        ChangeList list;
        list.againstController = false;
        for (SettingChange& c : diffSettings(model_, options_.lastLoad, text_))
            list.rows.push_back({std::move(c), true, false});
        if (!host_.choose(list))
            return end(Outcome::Declined);
        if (journal::JobRecord* r = record())
            r->changes = journal::confirmedChanges(list.rows);
    }
    state_ = State::Write;
    return call([this](DeviceInterface& d) { return d.WriteSettings(text_); }, kReplyTimeoutMs);
}

} // namespace jobs
