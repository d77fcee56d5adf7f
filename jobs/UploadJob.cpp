#include "UploadJob.h"

#include "Device.h"

namespace jobs {

UploadJob::UploadJob(JobHost& host, UploadKind kind, Pace pace)
    : Job(host), kind_(kind), pace_(pace) {}

UploadJob::~UploadJob() {
    if (context().uploads)
        slot().release(this);
}

void UploadJob::interrupted() { slot().release(this); }

bool UploadJob::claim() {
    if (slot().claim(this, kind_))
        return true;
    if (kind_ == UploadKind::Firmware)
        failing(Failure{"Идет загрузка звуковых данных.\nОбновление прошивки возможно после её окончания.", "Ошибка",
                             "Идет загрузка звуковых данных", 0, {}, false, {}});
    else
        failing(Failure{"Идет обновление прошивки.\nЗагрузка звука возможна после его окончания.", "Ошибка",
                             "Идет обновление прошивки", 0, {}, false, {}});
    return false;
}

std::optional<Work> UploadJob::stop(Outcome outcome) {
    slot().release(this);
    return end(outcome);
}

std::optional<Work> UploadJob::block() {
    return call([this](DeviceInterface& d) { return upload_->sendNextBlock(d); }, kReplyTimeoutMs, pace_);
}

std::optional<Work> UploadJob::firstBlock(const unsigned char* stream, size_t size, std::uint32_t crc,
                                              std::uint32_t length, int barMaximum) {
    upload_.emplace(stream, size, crc, length);
    bar_ = 0;
    barMaximum_ = barMaximum;
    host_.progress(Progress{0, barMaximum_});
    return block();
}

std::optional<Work> UploadJob::afterBlock(int result, const std::string& cancelledLine) {
    if (result < 0) {
        host_.detail("Ошибка при передачи данных (блок " + std::to_string(upload_->blocksSent() + 1) + ", смещение " +
                     std::to_string(upload_->position()) + ")");
        failing(Failure{"Ошибка при передачи данных", "Ошибка", "Обновление отменено", result, portWhy(), false,
                             cancelledLine});
        return stop(Outcome::Failed);
    }
    ++bar_;
    host_.progress(Progress{bar_, -1, upload_->blocksSent(), upload_->blockCount(), upload_->position(), upload_->size()});
    if (!upload_->allSent())
        return block();
    // The commit runs one tick after the last block.
    Work tick;
    tick.pace = pace_;
    return tick;
}

std::optional<Work> UploadJob::commit() {
    host_.progress(Progress{barMaximum_});
    return call([this](DeviceInterface& d) { return upload_->commit(d); }, kReplyTimeoutMs);
}

bool UploadJob::committed(int result, const std::string& cancelledLine) {
    slot().release(this);
    host_.changed();
    if (result >= 0)
        return true;
    host_.detail("Нет подтвеждения CRC");
    failing(Failure{"Нет подтвеждения CRC", "Ошибка обновления.", "Обновление отменено", result, portWhy(), false,
                         cancelledLine});
    end(Outcome::Failed);
    return false;
}

} // namespace jobs
