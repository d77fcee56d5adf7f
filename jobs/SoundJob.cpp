#include "SoundJob.h"

#include "Device.h"

namespace jobs {

SoundJob::SoundJob(JobHost& host, Carried bank)
    : UploadJob(host, UploadKind::Sound, Pace::SoundTick), carried_(bank) {}

std::optional<Work> SoundJob::stop(Outcome outcome) {
    active_ = false;
    return UploadJob::stop(outcome);
}

std::optional<Work> SoundJob::step(int result) {
    switch (state_) {
    case State::Start:
        if (!bank_.load(carried_.data, carried_.size)) {
            failing(Failure{"Встроенный ресурс \"wave_list\" не найден или повреждён", "Ошибка",
                                 "встроенные звуковые данные повреждены", 0, {}, false, {}});
            return end(Outcome::Failed);
        }
        if (!host_.ask(Question{Topic::StartSound, "Произвести загрузку звуковых данных?\nСтарые данные будут удалены безвозвратно!",
                                "Внимание", Buttons::OkCancel,
                                "Произвести загрузку звуковых данных? Старые данные будут удалены безвозвратно!"}))
            return end(Outcome::Declined);
        if (!claim())
            return end(Outcome::Failed);
        host_.progress(Progress{0, -1});
        active_ = true;
        host_.changed();
        host_.log("Подготовка к записи, ждите...");
        state_ = State::Begin;
        return call([](DeviceInterface& d) { return d.BeginSoundUpdate(); }, kSoundBeginTimeoutMs);

    case State::Begin:
        if (result < 0) {
            failing(Failure{"Устройство не подключено или занято.\nОбновление отменено.", "Ошибка",
                                 "Устройство не подключено или занято. Обновление отменено", result, portWhy(), true, {}});
            return stop(Outcome::Failed);
        }
        host_.log("Идет запись звуковых данных...");
        state_ = State::Block;
        return firstBlock(bank_.stream, bank_.size, bank_.dataCrc, bank_.dataLength,
                          static_cast<int>(bank_.size / kUploadBlockSize + 1));

    case State::Block:
        if (result < 0)
            active_ = false;
        else if (allSent())
            state_ = State::Finish;
        return afterBlock(result, {});

    case State::Finish:
        active_ = false;
        host_.changed();
        state_ = State::Commit;
        return commit();

    case State::Commit:
        if (!committed(result, {}))
            return std::nullopt;
        return doneWith(Notice{"Данные успешно записаны.", "Сообщение", "Данные успешно записаны.", false, false});
    }
    return stop(Outcome::Failed);
}

} // namespace jobs
