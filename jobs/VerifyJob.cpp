#include "VerifyJob.h"

#include "ChangeEntries.h"
#include "Device.h"
#include "ResultCode.h"

namespace jobs {

VerifyJob::VerifyJob(JobHost& host, const ParameterList& model, std::string sent, bool offerTake)
    : Job(host), model_(model), sent_(std::move(sent)), offerTake_(offerTake) {}

std::optional<Work> VerifyJob::step(int result) {
    if (!started_) {
        started_ = true;
        return call([this](DeviceInterface& d) { return d.ReadSettings(kept_); }, kReplyTimeoutMs);
    }
    if (result < 0) {
        const char text[] = "Настройки отправлены, но проверить их не удалось: устройство не ответило.";
        // Its failure ends the job it checks: that job's record is settled first.
        const Failure failure{text, "Внимание", text, result, portWhy(), false, {}};
        settleJob(Outcome::Failed, failure.code, failure.what + ": " + result::describe(result));
        failing(failure);
        return end(Outcome::Failed);
    }
    unkept_ = unkeptSettings(model_, sent_, kept_);
    if (unkept_.empty())
        return end(Outcome::Done);
    if (journal::JobRecord* r = record())
        journal::noteUnkept(r->changes, unkept_);
    settleJob(Outcome::Failed, 0, "Устройство сохранило не все настройки");
    std::string lines;
    for (const UnkeptSetting& u : unkept_) {
        host_.log("Не сохранено: " + unkeptLine(u));
        lines += "\n" + unkeptLine(u);
    }
    const std::string text = "Устройство сохранило не все настройки:" + lines;
    if (offerTake_)
        take_ = host_.ask(Question{Topic::TakeKept, text + "\n\nВзять в редактор значения, которые сохранило устройство?",
                                   "Внимание", Buttons::OkCancel, {}});
    else
        failing(Failure{text, "Внимание", "Устройство сохранило не все настройки", 0, {}, false, {}});
    return end(Outcome::Failed);
}

} // namespace jobs
