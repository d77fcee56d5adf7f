#include "SoundJob.h"

#include "Device.h"
#include "UploadSlot.h"

namespace jobs {

SoundJob::SoundJob(JobHost& host, DevicePtr device, const SoundBank& bank) : Job(host, std::move(device)), bank_(bank) {}

SoundJob::~SoundJob() { uploadSlot().release(this); }

std::optional<Exchange> SoundJob::stop(Outcome outcome) {
    active_ = false;
    uploadSlot().release(this);
    return end(outcome);
}

std::optional<Exchange> SoundJob::nextBlock() {
    return call([this](DeviceInterface& d) { return upload_->sendNextBlock(d); }, kReplyTimeoutMs, Pace::SoundTick);
}

std::optional<Exchange> SoundJob::step(int result) {
    // Started again meanwhile: the new job has the controller now.
    if (state_ != State::Start && !uploadSlot().holds(this)) {
        active_ = false;
        return end(Outcome::Superseded);
    }
    switch (state_) {
    case State::Start:
        if (!host_.ask(Question{Topic::StartSound, "Произвести загрузку звуковых данных?\nСтарые данные будут удалены безвозвратно!",
                                "Внимание", Buttons::OkCancel,
                                "Произвести загрузку звуковых данных? Старые данные будут удалены безвозвратно!"}))
            return end(Outcome::Declined);
        if (!uploadSlot().claim(this, UploadKind::Sound)) {
            host_.failed(Failure{"Идет обновление прошивки.\nЗагрузка звука возможна после его окончания.", "Ошибка",
                                 "Идет обновление прошивки", 0, {}, false, {}});
            return end(Outcome::Failed);
        }
        host_.progress(Progress{0, -1});
        active_ = true;
        host_.changed();
        host_.log("Подготовка к записи, ждите...");
        state_ = State::Begin;
        return call([](DeviceInterface& d) { return d.BeginSoundUpdate(); }, kSoundBeginTimeoutMs);

    case State::Begin:
        if (result < 0) {
            host_.failed(Failure{"Устройство не подключено или занято.\nОбновление отменено.", "Ошибка",
                                 "Устройство не подключено или занято. Обновление отменено", result, portWhy(), true, {}});
            return stop(Outcome::Failed);
        }
        upload_.emplace(bank_.stream, bank_.size, bank_.dataCrc, bank_.dataLength);
        bar_ = 0;
        host_.progress(Progress{0, static_cast<int>(bank_.size / kUploadBlockSize + 1)});
        host_.log("Идет запись звуковых данных...");
        state_ = State::Block;
        return nextBlock();

    case State::Block: {
        if (result < 0) {
            host_.detail("Ошибка при передачи данных (блок " + std::to_string(upload_->blocksSent() + 1) + ", смещение " +
                         std::to_string(upload_->position()) + ")");
            host_.failed(Failure{"Ошибка при передачи данных", "Ошибка", "Обновление отменено", result, portWhy(), false, {}});
            return stop(Outcome::Failed);
        }
        ++bar_;
        host_.progress(Progress{bar_, -1, upload_->blocksSent(), upload_->blockCount(), upload_->position(), upload_->size()});
        if (!upload_->allSent())
            return nextBlock();
        state_ = State::Finish;
        Exchange tick;
        tick.pace = Pace::SoundTick;
        return tick;
    }

    case State::Finish:
        host_.progress(Progress{static_cast<int>(bank_.size / kUploadBlockSize + 1)});
        active_ = false;
        host_.changed();
        state_ = State::Commit;
        return call([this](DeviceInterface& d) { return upload_->commit(d); }, kReplyTimeoutMs);

    case State::Commit:
        uploadSlot().release(this);
        host_.changed();
        if (result < 0) {
            host_.detail("Нет подтвеждения CRC");
            host_.failed(Failure{"Нет подтвеждения CRC", "Ошибка обновления.", "Обновление отменено", result, portWhy(), false, {}});
            return end(Outcome::Failed);
        }
        host_.tell(Notice{"Данные успешно записаны.", "Сообщение", "Данные успешно записаны.", false, false});
        return end(Outcome::Done);
    }
    return stop(Outcome::Failed);
}

} // namespace jobs
