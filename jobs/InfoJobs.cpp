#include "InfoJobs.h"

#include "Cp1251.h"
#include "Device.h"

#include <cstdio>

namespace jobs {

namespace {
const char kNotConnected[] = "Устройство не подключено или занято.";
const char kBusy[] = "Устройство не подключено или занято";
} // namespace

std::optional<Work> OneCallJob::step(int result) {
    if (!asked_) {
        asked_ = true;
        return call([this](DeviceInterface& d) { return operation(d); }, kReplyTimeoutMs);
    }
    if (result < 0)
        return failWith(Failure{texts_.box, texts_.caption, texts_.what, result, portWhy(), true, {}});
    answered();
    return end(Outcome::Done);
}

SerialJob::SerialJob(JobHost& host) : OneCallJob(host, {kNotConnected, "Загрузка не возможна", "Серийный номер"}) {}

void SerialJob::answered() {
    // The window has always shown it as a signed number.
    host_.reading(Reading{{"Серийный номер устройства " + std::to_string(static_cast<std::int32_t>(serial_))},
                          {std::to_string(serial_)}});
}

VersionJob::VersionJob(JobHost& host) : OneCallJob(host, {kBusy, "Ошибка", "Версия ПО"}) {}

void VersionJob::answered() {
    info_ = parseVersionText(text_.c_str());
    const std::string type = fieldText(info_.deviceType), version = fieldText(info_.firmwareVersion);
    host_.reading(Reading{{"Тип устройства   : " + cp1251::toUtf8(deviceTypeName(type)),
                           "Версия прошивки : " + cp1251::toUtf8(version)},
                          {cp1251::toUtf8(type), cp1251::toUtf8(version), cp1251::toUtf8(fieldText(info_.buildDate))}});
}

ReadSettingsJob::ReadSettingsJob(JobHost& host) : OneCallJob(host, {kNotConnected, "Загрузка не возможна", "Загрузка настроек"}) {}

DiagnosticsJob::DiagnosticsJob(JobHost& host) : OneCallJob(host, {kBusy, "Ошибка", "Диагностика"}) {}

void DiagnosticsJob::answered() {
    std::string hex;
    for (size_t i = 0; i < sizeof block_; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02X", block_[i]);
        hex += (i ? " " : "") + std::string(b);
    }
    host_.reading(Reading{{"Диагностика: " + hex}, {hex}});
}

RestartJob::RestartJob(JobHost& host) : OneCallJob(host, {kBusy, "Ошибка", "Перезагрузка"}) {}

} // namespace jobs
