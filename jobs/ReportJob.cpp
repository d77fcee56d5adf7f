#include "ReportJob.h"

#include "Cp1251.h"
#include "Device.h"
#include "ExchangeTrace.h"
#include "DeviceInfo.h"
#include "FileReplace.h"
#include "PortProblem.h"
#include "PortSettingStore.h"
#include "ResultCode.h"
#include "SystemName.h"

#include <chrono>
#include <stdexcept>

namespace jobs {

namespace {
std::string noAnswer(int code) { return std::string(result::describe(code)) + " (" + std::to_string(code) + ")"; }
} // namespace

ReportJob::ReportJob(JobHost& host, const ParameterList& model, std::string path, Context context)
    : Job(host), model_(model), path_(std::move(path)), context_(std::move(context)) {}

std::optional<Work> ReportJob::step(int result) {
    ControllerFacts& c = facts_.controller;
    if (!started_) {
        started_ = true;
        return call([this](DeviceInterface& d) { return d.GetVersionInfo(version_); }, kReplyTimeoutMs);
    }
    switch (stage_) {
    case Version:
        if (result < 0) {
            // A controller that does not answer would make every further
            // question wait its whole limit: the report goes on without it.
            c.noAnswer = noAnswer(result);
            return gatherPorts();
        }
        {
            c.answered = true;
            noteVersion(version_);
            const DeviceInfo info = parseVersionText(version_.c_str());
            c.type = cp1251::toUtf8(fieldText(info.deviceType));
            c.version = cp1251::toUtf8(fieldText(info.firmwareVersion));
            c.date = cp1251::toUtf8(fieldText(info.buildDate));
        }
        stage_ = Serial;
        return call([this](DeviceInterface& d) { return d.GetSerialNumber(serial_); }, kReplyTimeoutMs);
    case Serial:
        if (result < 0)
            c.failures.push_back("Серийный номер: " + noAnswer(result));
        else {
            c.serial = serial_;
            noteSerial(serial_);
        }
        stage_ = Diagnostics;
        return call([this](DeviceInterface& d) { return d.ReadDiagnostics(diagnostics_); }, kReplyTimeoutMs);
    case Diagnostics:
        if (result < 0)
            c.failures.push_back("Диагностика: " + noAnswer(result));
        else
            c.diagnostics.assign(diagnostics_, diagnostics_ + sizeof diagnostics_);
        stage_ = Settings;
        return call([this](DeviceInterface& d) { return d.ReadSettings(settings_); }, kReplyTimeoutMs);
    case Settings:
        if (result < 0)
            c.failures.push_back("Настройки: " + noAnswer(result));
        else
            c.settings = settings_;
        return gatherPorts();
    case Ports:
        return save();
    case Done:
        break;
    }
    return std::nullopt;
}

// The port checks open the ports to see who holds them: they run as work of
// their own, so no other exchange of this runner opens a port meanwhile, and
// they leave alone the ports other runners hold.
std::optional<Work> ReportJob::gatherPorts() {
    stage_ = Ports;
    return call([this](DeviceInterface&) {
        facts_.doctor = portDoctorReport(context().portInUse);
        facts_.ports = refreshPortNames();
        facts_.rememberedPort = portSettingStore().read();
        facts_.portKeptAt = portSettingStore().location();
        facts_.system = systemName();
        return 0;
    }, kReplyTimeoutMs);
}

std::optional<Work> ReportJob::save() {
    stage_ = Done;
    facts_.version = programVersion();
    facts_.build = programBuild();
    facts_.qt = context_.qt;
    facts_.madeBy = context_.madeBy;
    facts_.madeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    facts_.log = context_.log;
    facts_.trace = context().trace->entries();
    facts_.traceTotal = context().trace->total();
    html_ = supportReportHtml(facts_, model_);
    try {
        replaceFileContent(path_, html_);
    } catch (const std::runtime_error& e) {
        const std::string text = std::string("Отчёт не сохранён: ") + e.what();
        failing(Failure{text, "Ошибка", text, 0, {}, false, {}});
        return end(Outcome::Failed);
    }
    const std::string where = "Отчёт для поддержки сохранён: " + path_;
    settle(Outcome::Done);
    host_.log(where);
    host_.tell(Notice{where + "\nОн никуда не отправлен: передайте файл в поддержку сами.", "Отчёт для поддержки",
                      where, false, true});
    return end(Outcome::Done);
}

} // namespace jobs
