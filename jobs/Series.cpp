#include "Series.h"

#include "BackupJob.h"
#include "Cp1251.h"
#include "DeviceInfo.h"
#include "FileReplace.h"
#include "FirmwareJob.h"
#include "InfoJobs.h"
#include "PortClaims.h"
#include "PortList.h"
#include "PortProbe.h"
#include "RecordId.h"
#include "ResultCode.h"
#include "Runner.h"
#include "SettingsChoice.h"
#include "SettingsLimit.h"
#include "SettingsSheet.h"
#include "SettingsWriteJob.h"
#include "SoundJob.h"
#include "Upload.h"
#include "ValueCheck.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>

namespace jobs {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kLastPort = 254;
const char kStopped[] = "серия остановлена";

std::string localTime(const char* format) {
    char text[64];
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &now);
#else
    localtime_r(&now, &parts);
#endif
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

std::string csvField(const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

int stepIndex(UnitStep step) { return static_cast<int>(step); }

} // namespace

const char* firmwarePolicyName(FirmwarePolicy policy) {
    switch (policy) {
    case FirmwarePolicy::Always:
        return "always";
    case FirmwarePolicy::Never:
        return "never";
    case FirmwarePolicy::Older:
        break;
    }
    return "older";
}

std::optional<FirmwarePolicy> firmwarePolicyFromName(const std::string& name) {
    for (FirmwarePolicy p : {FirmwarePolicy::Older, FirmwarePolicy::Always, FirmwarePolicy::Never})
        if (name == firmwarePolicyName(p))
            return p;
    return std::nullopt;
}

const char* unitStepTitle(UnitStep step) {
    static const char* const titles[kUnitStepCount] = {"Опознание", "Копия", "Прошивка", "Звук", "Настройки", "Лист"};
    return titles[stepIndex(step)];
}

const char* unitStepName(UnitStep step) {
    static const char* const names[kUnitStepCount] = {"identify", "backup", "firmware", "sound", "settings", "sheet"};
    return names[stepIndex(step)];
}

const char* unitOutcomeName(UnitOutcome outcome) {
    switch (outcome) {
    case UnitOutcome::Done:
        return "done";
    case UnitOutcome::Failed:
        return "failed";
    case UnitOutcome::Stopped:
        return "stopped";
    case UnitOutcome::Running:
        break;
    }
    return "running";
}

std::string checkReference(const ParameterList& model, const std::string& text) {
    std::string problem;
    int count = 0;
    forEachSetting(text, [&](std::string_view key, std::string_view value) {
        ++count;
        const int index = model.IndexOfKey(key);
        if (index < 0 || !problem.empty())
            return;  // a key this description does not know is sent as it is, as by the editor
        const CheckResult r = CheckValue(model.parameters()[static_cast<size_t>(index)], std::string(value));
        if (!r.ok)
            problem = cp1251::toUtf8(std::string(key)) + ": " + r.message;
    });
    if (count == 0)
        return "в файле нет ни одной настройки";
    if (!problem.empty())
        return problem;
    return settingsTooLongReason(model, text);
}

std::vector<std::string> presentSeriesPorts(const std::function<bool(const std::string&)>& skip) {
    // A controller plugged in a moment ago gets its COMn name first.
    refreshPortNames();
    std::vector<std::string> present;
    for (int n = 2; n <= kLastPort; ++n) {
        const std::string name = "COM" + std::to_string(n);
        if (!(skip && skip(name)) && probeSerialPort(name))
            present.push_back(name);
    }
    return present;
}

// What a unit's jobs ask and say: the set-up answers every question, failures
// and the upload's bar go to the unit's row.
class UnitHost final : public JobHost {
public:
    explicit UnitHost(std::function<void(const Progress&)> progress) : progress_(std::move(progress)) {}

    bool ask(const Question& q) override {
        switch (q.topic) {
        case Topic::StartFirmware:
        case Topic::FirmwareNotNewer:  // asked only when the set-up said to update
        case Topic::Restart:
        case Topic::StartSound:
        case Topic::WriteSettings:
            return true;
        case Topic::NoBackup:  // a unit is never overwritten without its backup
        case Topic::OtherDeviceType:
        case Topic::Restore:
        case Topic::TakeKept:
            break;
        }
        if (reason.empty())
            reason = q.line;
        return false;
    }
    void tell(const Notice&) override {}
    void log(const std::string&) override {}
    void detail(const std::string&) override {}
    void failed(const Failure& failure) override {
        // One line for the row, the terminal and the CSV.
        reason = failure.code == 0 && failure.text.rfind(failure.what, 0) == 0 ? failure.text : failureReason(failure);
        for (std::size_t at = 0; (at = reason.find('\n', at)) != std::string::npos;)
            reason.replace(at, 1, at > 0 && reason[at - 1] == ':' ? " " : "; ");
    }
    void progress(const Progress& p) override { progress_(p); }
    void reading(const Reading&) override {}

    std::string reason;  // the last failure told, for the row

private:
    std::function<void(const Progress&)> progress_;
};

// The controller restarted after its firmware update: found again by its serial
// number, on its own port by the firmware job's own questions, on another one by
// the series (which hands the version over here).
struct BackWait {
    std::mutex mutex;
    bool found = false;
    std::string firmwareVersion;  // Windows-1251, as the controller names it
};

struct Series::Port {
    enum class State { New, Asking, Quiet, Holds, Busy };
    State state = State::New;
    std::unique_ptr<Runner> runner;   // Asking: the serial number's question
    std::uint32_t serial = 0;         // who answered last
    bool holding = false;             // that one is not taken again while it stays plugged in
    SteadyClock::time_point askAfter{};
    int unit = 0;                     // Busy: whose unit runs here
    bool listed = true;
    SteadyClock::time_point letGo{};  // when a runner here last let the port go
};

struct Series::Unit {
    int number = 0;
    std::size_t row = 0;
    std::unique_ptr<UnitHost> host;
    std::unique_ptr<Pacer> pacer;
    std::unique_ptr<Runner> runner;
    UnitStep step = UnitStep::Identify;
    std::shared_ptr<Job> job;       // the job running now
    std::string versionBefore;       // Windows-1251
    std::string settings;            // as read back after the write, for the sheet
    std::shared_ptr<BackWait> back;  // waiting for it after the firmware's restart
    std::unique_ptr<Runner> cameBack;  // the runner of the port it came back on
    std::string cameBackPort;
    int lastPercent = -1;
};

// Lists the ports on a thread of its own (a probe can take a moment) and hands
// each list to the loop.
class Series::Lister {
public:
    Lister(SeriesPlatform& platform, std::weak_ptr<bool> alive, Series& series, std::function<bool(const std::string&)> skip)
        : thread_([this, &platform, alive, &series, skip = std::move(skip)] {
              const auto list = platform.ports ? platform.ports : presentSeriesPorts;
              std::unique_lock<std::mutex> lock(mutex_);
              while (!stop_) {
                  lock.unlock();
                  const SteadyClock::time_point asked = SteadyClock::now();
                  std::vector<std::string> present = list(skip);
                  platform.loop->post([alive, &series, asked, present = std::move(present)]() mutable {
                      if (!alive.expired())
                          series.portsListed(std::move(present), asked);
                  });
                  lock.lock();
                  wake_.wait_for(lock, std::chrono::milliseconds(platform.listEveryMs), [this] { return stop_; });
              }
          }) {}
    // No further list; the one being made may take a moment (a port slow to
    // open), so nobody waits for it here.
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
    }
    ~Lister() {
        stop();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: it starts with the rest in place
};

Series::Series(SeriesSetup setup, SeriesResources resources, SeriesPlatform platform, SeriesObserver& observer)
    : setup_(std::move(setup)), resources_(resources), platform_(std::move(platform)), observer_(observer),
      id_(journal::newRecordId()) {
    // What every unit is compared with, read from the carried image once.
    FirmwareImage image;
    if (image.load(resources_.firmware.data, resources_.firmware.size)) {
        carriedType_ = fieldText(image.info.deviceType);
        carriedVersion_ = fieldText(image.info.firmwareVersion);
    }
    if (!platform_.claims) {
        ownClaims_ = std::make_unique<PortClaims>();
        platform_.claims = ownClaims_.get();
    }
}

Series::~Series() {
    alive_.reset();
    lister_.reset();
    // Runners drop their jobs (interrupted, on record as such) and join their threads.
    for (auto& [number, unit] : units_) {
        unit->cameBack.reset();
        unit->runner.reset();
    }
    ports_.clear();
    retiredRunners_.clear();
    units_.clear();
    retiredUnits_.clear();
}

void Series::start() {
    if (started_)
        return;
    started_ = true;
    startedText_ = localTime("%Y%m%d-%H%M%S");
    if (!setup_.csvPath.empty())
        csvFile_ = setup_.csvPath;
    else if (!setup_.sheetsFolder.empty())
        csvFile_ = (std::filesystem::u8path(setup_.sheetsFolder) / ("series-" + startedText_ + ".csv")).u8string();
    observer_.seriesLine("Серия начата: " + setup_.referencePath);
    PortClaims* claims = platform_.claims;
    // Only the ports asked for are opened to look: another device's is left alone.
    lister_ = std::make_unique<Lister>(platform_, alive_, *this, [claims, wanted = setup_.ports](const std::string& port) {
        return claims->heldByOther(port, nullptr) ||
               (!wanted.empty() && std::find(wanted.begin(), wanted.end(), port) == wanted.end());
    });
}

void Series::stop() {
    if (!started_ || ended_ || stopping_)
        return;
    stopping_ = true;
    observer_.seriesLine("Серия останавливается: новые устройства не начинаются");
    // Questions to ports that have no unit yet are let go at once.
    for (auto& [name, port] : ports_)
        if (port->state == Port::State::Asking) {
            retire(std::move(port->runner));
            port->state = Port::State::New;
        }
    maybeEnd();
}

void Series::again(int number) {
    for (const UnitRow& row : rows_) {
        if (row.number != number || row.outcome == UnitOutcome::Running)
            continue;
        done_.erase(row.serial);
        for (auto& [name, port] : ports_) {
            if (port->serial != row.serial)
                continue;
            // No longer held back as the one that was there (also when it is
            // being asked again right now): it is taken at its answer.
            port->holding = false;
            if (port->state == Port::State::Holds) {
                port->state = Port::State::New;
                port->askAfter = {};
            }
        }
    }
}

int Series::doneCount() const {
    return static_cast<int>(std::count_if(rows_.begin(), rows_.end(), [](const UnitRow& r) { return r.outcome == UnitOutcome::Done; }));
}

int Series::failedCount() const {
    return static_cast<int>(std::count_if(rows_.begin(), rows_.end(), [](const UnitRow& r) {
        return r.outcome == UnitOutcome::Failed || r.outcome == UnitOutcome::Stopped;
    }));
}

int Series::runningCount() const { return static_cast<int>(units_.size()); }

bool Series::waitingBack() const {
    return std::any_of(units_.begin(), units_.end(), [](const auto& u) {
        const auto* firmware = dynamic_cast<const FirmwareJob*>(u.second->job.get());
        return u.second->back && firmware && firmware->awaitingBack();
    });
}

bool Series::mayStartUnit() const {
    return started_ && !stopping_ && !ended_ && runningCount() < kMaxPorts &&
           (setup_.expected <= 0 || unitsStarted_ < setup_.expected);
}

std::unique_ptr<Runner> Series::makeRunner(const std::string& port) {
    auto runner = std::make_unique<Runner>(platform_.executor(), platform_.claims);
    runner->setDevice(platform_.device(port));
    runner->setJournal(platform_.journal);
    if (platform_.guard)
        runner->setGuard(platform_.guard);
    return runner;
}

void Series::retire(std::unique_ptr<Runner> runner) {
    if (!runner)
        return;
    retiredRunners_.push_back(std::move(runner));
    dropRetired();
}

void Series::retire(std::unique_ptr<Unit> unit) {
    if (!unit)
        return;
    retiredUnits_.push_back(std::move(unit));
    dropRetired();
}

void Series::dropRetired() {
    const std::weak_ptr<bool> alive = alive_;
    platform_.loop->post([this, alive] {
        if (alive.expired())
            return;
        // Runners first: their jobs talk through a unit's host until they go.
        std::vector<std::unique_ptr<Runner>> runners = std::move(retiredRunners_);
        std::vector<std::unique_ptr<Unit>> units = std::move(retiredUnits_);
        const bool letGo = !runners.empty();
        runners.clear();
        units.clear();
        // Their ports are let go only now: a list begun before says nothing of them.
        if (letGo)
            for (auto& [name, port] : ports_)
                if (port->state != Port::State::Busy && port->state != Port::State::Asking)
                    port->letGo = SteadyClock::now();
    });
}

Series::Unit* Series::unitOf(int number) {
    const auto it = units_.find(number);
    return it == units_.end() ? nullptr : it->second.get();
}

void Series::portsListed(std::vector<std::string> present, std::chrono::steady_clock::time_point asked) {
    if (!started_ || ended_)
        return;
    const auto wanted = [this](const std::string& name) {
        return setup_.ports.empty() || std::find(setup_.ports.begin(), setup_.ports.end(), name) != setup_.ports.end();
    };
    for (auto& [name, port] : ports_)
        port->listed = false;
    for (const std::string& name : present) {
        if (!wanted(name))
            continue;
        auto& port = ports_[name];
        if (!port)
            port = std::make_unique<Port>();
        port->listed = true;
    }
    // A port that went (unplugged) is forgotten: the controller plugged in there
    // next is asked who it is. Ports this series holds open are not listed.
    for (auto it = ports_.begin(); it != ports_.end();) {
        Port& p = *it->second;
        // A list made while a runner here still held the port open says nothing of it.
        const bool unheldWhenAsked = p.letGo <= asked;
        if (!p.listed && unheldWhenAsked &&
            (p.state == Port::State::New || p.state == Port::State::Quiet || p.state == Port::State::Holds))
            it = ports_.erase(it);
        else
            ++it;
    }
    const SteadyClock::time_point now = SteadyClock::now();
    // Stopping, only a unit back from its restart on another port is looked for.
    const bool someoneWaits = waitingBack();
    for (auto& [name, port] : ports_) {
        const bool due = port->state == Port::State::New ||
                         ((port->state == Port::State::Quiet || port->state == Port::State::Holds) && now >= port->askAfter);
        if (due && port->listed && (!stopping_ || someoneWaits))
            identify(name);
    }
}

void Series::identify(const std::string& name) {
    Port& port = *ports_[name];
    // A unit waiting for its controller to come back takes it whatever the count says.
    if (!mayStartUnit() && !waitingBack())
        return;
    port.state = Port::State::Asking;
    port.runner = makeRunner(name);
    // Asked through a host that says nothing: a port without a controller is no unit.
    auto host = std::make_shared<UnitHost>([](const Progress&) {});
    auto job = std::make_shared<SerialJob>(*host);
    std::weak_ptr<bool> alive = alive_;
    port.runner->start(job, [this, alive, name, job, host](Outcome outcome) {
        if (alive.expired())
            return;
        const auto it = ports_.find(name);
        if (it == ports_.end() || it->second->state != Port::State::Asking)
            return;
        if (outcome == Outcome::Done) {
            identified(name, job->serial());
            return;
        }
        Port& p = *it->second;
        retire(std::move(p.runner));
        p.letGo = SteadyClock::now();
        p.state = Port::State::Quiet;
        p.askAfter = SteadyClock::now() + std::chrono::milliseconds(platform_.askAgainMs);
    });
}

bool Series::handBack(const std::string& name, std::uint32_t serial) {
    Port& port = *ports_[name];
    Unit* waiting = nullptr;
    for (auto& [number, unit] : units_)
        if (unit->back && !unit->cameBack && rows_[unit->row].serial == serial)
            waiting = unit.get();
    if (!waiting)
        return false;
    // Back after its firmware's restart on another port: its version is read
    // there and handed to the firmware job, which is waiting for it.
    Unit& u = *waiting;
    auto host = std::make_shared<UnitHost>([](const Progress&) {});
    auto job = std::make_shared<VersionJob>(*host);
    u.cameBack = std::move(port.runner);
    u.cameBackPort = name;
    port.state = Port::State::Busy;
    port.unit = u.number;
    const std::weak_ptr<bool> alive = alive_;
    const int n = u.number;
    u.cameBack->start(job, [this, alive, n, job, host](Outcome outcome) {
        if (alive.expired())
            return;
        Unit* unit = unitOf(n);
        if (!unit || !unit->back)
            return;
        if (outcome != Outcome::Done) {
            // Not answering yet: that port is asked again at the next list.
            const auto it = ports_.find(unit->cameBackPort);
            if (it != ports_.end()) {
                it->second->state = Port::State::New;
                it->second->unit = 0;
            }
            retire(std::move(unit->cameBack));
            unit->cameBackPort.clear();
            return;
        }
        {
            std::lock_guard<std::mutex> lock(unit->back->mutex);
            unit->back->found = true;
            unit->back->firmwareVersion = fieldText(job->info().firmwareVersion);
        }
        // Its old port's line hung up: a question there would wait out its limit.
        if (const auto* firmware = dynamic_cast<const FirmwareJob*>(unit->job.get()); firmware && firmware->awaitingBack())
            unit->runner->executor().cancelRunning();
    });
    return true;
}

void Series::identified(const std::string& name, std::uint32_t serial) {
    if (handBack(name, serial))
        return;
    Port& port = *ports_[name];
    const bool sameAsBefore = port.holding && port.serial == serial;
    const bool runningNow = std::any_of(rows_.begin(), rows_.end(), [serial](const UnitRow& r) {
        return r.serial == serial && r.outcome == UnitOutcome::Running;
    });
    port.serial = serial;
    port.askAfter = SteadyClock::now() + std::chrono::milliseconds(platform_.askAgainMs);
    if (sameAsBefore || done_.count(serial) || runningNow || !mayStartUnit()) {
        retire(std::move(port.runner));
        port.letGo = SteadyClock::now();
        port.holding = sameAsBefore || done_.count(serial) || runningNow;
        port.state = port.holding ? Port::State::Holds : Port::State::Quiet;
        return;
    }
    beginUnit(name, serial);
}

void Series::beginUnit(const std::string& name, std::uint32_t serial) {
    Port& port = *ports_[name];
    auto unit = std::make_unique<Unit>();
    unit->number = ++unitsStarted_;
    unit->row = rows_.size();
    UnitRow row;
    row.number = unit->number;
    row.port = name;
    row.serial = serial;
    row.started = SteadyClock::now();
    rows_.push_back(row);
    const int n = unit->number;
    unit->host = std::make_unique<UnitHost>([this, n](const Progress& p) {
        Unit* u = unitOf(n);
        if (!u || p.maximum == 0)
            return;
        UnitRow& r = rows_[u->row];
        if (p.maximum > 0)
            r.progressMaximum = p.maximum;
        r.progress = p.value;
        changed(*u);
        if (r.progressMaximum > 0) {
            const int percent = r.progress * 100 / r.progressMaximum;
            if (percent / 10 != u->lastPercent / 10) {
                u->lastPercent = percent;
                observer_.seriesLine(r.port + " №" + std::to_string(r.number) + " " + std::to_string(r.serial) + ": " +
                                     unitStepTitle(u->step) + " " + std::to_string(percent) + " %");
            }
        }
    });
    unit->runner = std::move(port.runner);
    unit->runner->setSeries(SeriesTag{id_, unit->number, serial, {}, {}});
    if (platform_.pacer) {
        unit->pacer = platform_.pacer();
        unit->runner->setPacer(unit->pacer.get());
    }
    port.state = Port::State::Busy;
    port.unit = unit->number;
    port.holding = false;
    Unit& u = *unit;
    units_[u.number] = std::move(unit);
    observer_.seriesLine(name + " №" + std::to_string(n) + ": устройство " + std::to_string(serial));
    runStep(u);
}

void Series::mark(Unit& unit, UnitStep step, StepMark m) {
    rows_[unit.row].marks[stepIndex(step)] = m;
}

void Series::changed(const Unit& unit) { observer_.unitChanged(rows_[unit.row]); }

void Series::runStep(Unit& unit) {
    UnitRow& row = rows_[unit.row];
    const int n = unit.number;
    std::shared_ptr<Job> job;
    unit.host->reason.clear();
    unit.lastPercent = -1;
    row.progress = row.progressMaximum = 0;
    switch (unit.step) {
    case UnitStep::Identify:
        job = std::make_shared<VersionJob>(*unit.host);
        break;
    case UnitStep::Backup:
        job = std::make_shared<BackupJob>(*unit.host, BackupJob::Mode::Standalone);
        break;
    case UnitStep::Firmware: {
        FirmwareJob::Options o;
        o.backup = false;       // backed up as the unit's own step
        o.offerRestore = false;
        o.askOtherType = false; // another type never gets here
        o.backAfterRestartMs = platform_.backAfterRestartMs;
        unit.back = std::make_shared<BackWait>();
        o.findBack = [wait = unit.back, serial = row.serial, limit = platform_.backAfterRestartMs](
                         DeviceInterface& d, std::string& version, const std::atomic<bool>& dropped) {
            const auto until = SteadyClock::now() + std::chrono::milliseconds(limit);
            int code = result::kNoReply;
            // Asked at once, the line it is dropping may take the question and
            // hang up under it: the answer's whole time limit lost.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            for (;;) {
                {
                    std::lock_guard<std::mutex> lock(wait->mutex);
                    if (wait->found) {
                        version = wait->firmwareVersion;
                        return result::kOk;
                    }
                }
                // Back on its own port.
                std::uint32_t s = 0;
                std::string text;
                const int c = d.GetSerialNumber(s);
                if (c > 0 && s == serial && (code = d.GetVersionInfo(text)) > 0) {
                    version = fieldText(parseVersionText(text.c_str()).firmwareVersion);
                    return code;
                }
                if (c < 0)
                    code = c;
                for (int i = 0; i < 5; ++i) {
                    if (dropped || SteadyClock::now() >= until)
                        return code;
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    std::lock_guard<std::mutex> lock(wait->mutex);
                    if (wait->found)
                        break;
                }
            }
        };
        job = std::make_shared<FirmwareJob>(*unit.host, resources_.firmware, *resources_.model, o);
        break;
    }
    case UnitStep::Sound:
        job = std::make_shared<SoundJob>(*unit.host, resources_.soundBank);
        break;
    case UnitStep::Settings: {
        SettingsWriteJob::Options o;
        o.confirm = false;
        o.backup = false;       // backed up as the unit's own step
        o.fromFile = true;
        o.fileSerial = serialOfBackupName(setup_.referencePath);
        o.writeOwner = setup_.writeOwner;
        job = std::make_shared<SettingsWriteJob>(*unit.host, *resources_.model, setup_.referenceText, o);
        break;
    }
    case UnitStep::Sheet:
        mark(unit, UnitStep::Sheet, StepMark::Running);
        changed(unit);
        writeSheet(unit);
        return;
    }
    mark(unit, unit.step, StepMark::Running);
    changed(unit);
    observer_.seriesLine(row.port + " №" + std::to_string(n) + " " + std::to_string(row.serial) + ": " +
                         unitStepTitle(unit.step));
    unit.job = job;
    const std::weak_ptr<bool> alive = alive_;
    if (!unit.runner->start(job, [this, alive, n](Outcome outcome) {
            if (!alive.expired())
                afterJob(n, outcome);
        }))
        failUnit(unit, "устройство не подключено");
}

void Series::afterJob(int number, Outcome outcome) {
    Unit* found = unitOf(number);
    if (!found)
        return;
    Unit& unit = *found;
    UnitRow& row = rows_[unit.row];
    std::shared_ptr<Job> job = std::move(unit.job);
    row.progress = row.progressMaximum = 0;
    if (outcome != Outcome::Done) {
        std::string reason = unit.host->reason;
        if (reason.empty())
            reason = outcome == Outcome::Declined ? "отменено" : "не выполнено";
        unit.back.reset();
        failUnit(unit, reason);
        return;
    }
    switch (unit.step) {
    case UnitStep::Identify: {
        const auto* version = static_cast<const VersionJob*>(job.get());
        const std::string type = fieldText(version->info().deviceType);
        const std::string& imageType = carriedType_;
        row.type = cp1251::toUtf8(type);
        row.firmwareBefore = cp1251::toUtf8(fieldText(version->info().firmwareVersion));
        unit.versionBefore = fieldText(version->info().firmwareVersion);
        if (type != imageType) {
            failUnit(unit, "тип устройства «" + row.type + "» не совпадает с типом прошивки «" + cp1251::toUtf8(imageType) + "»");
            return;
        }
        unit.runner->setSeries(SeriesTag{id_, unit.number, row.serial, row.type, row.firmwareBefore});
        break;
    }
    case UnitStep::Firmware: {
        const auto* firmware = static_cast<const FirmwareJob*>(job.get());
        unit.back.reset();
        if (unit.cameBack) {
            // It came back on another port: the unit goes on there.
            const auto old = ports_.find(row.port);
            if (old != ports_.end()) {
                old->second->state = Port::State::New;
                old->second->unit = 0;
            }
            retire(std::move(unit.runner));
            unit.runner = std::move(unit.cameBack);
            if (unit.pacer)
                unit.runner->setPacer(unit.pacer.get());
            observer_.seriesLine(row.port + " №" + std::to_string(number) + ": вернулось на " + unit.cameBackPort);
            row.port = unit.cameBackPort;
            unit.cameBackPort.clear();
        }
        const std::string& carried = carriedVersion_;
        row.firmwareAfter = cp1251::toUtf8(firmware->versionAfter());
        if (firmware->versionAfter() != carried) {
            failUnit(unit, "после обновления версия " + row.firmwareAfter + ", а не " + cp1251::toUtf8(carried));
            return;
        }
        unit.runner->setSeries(SeriesTag{id_, unit.number, row.serial, row.type, row.firmwareAfter});
        break;
    }
    case UnitStep::Settings:
        unit.settings = static_cast<const SettingsWriteJob*>(job.get())->readBack();
        break;
    case UnitStep::Backup:
    case UnitStep::Sound:
    case UnitStep::Sheet:
        break;
    }
    mark(unit, unit.step, StepMark::Done);
    nextStep(unit);
}

void Series::nextStep(Unit& unit) {
    UnitRow& row = rows_[unit.row];
    for (;;) {
        if (unit.step == UnitStep::Sheet) {
            finishUnit(unit, UnitOutcome::Done);
            return;
        }
        unit.step = static_cast<UnitStep>(stepIndex(unit.step) + 1);
        bool wanted = true;
        if (unit.step == UnitStep::Firmware) {
            const int order = compareVersions(unit.versionBefore, carriedVersion_);
            wanted = setup_.firmware == FirmwarePolicy::Always || (setup_.firmware == FirmwarePolicy::Older && order < 0);
            if (!wanted)
                row.firmwareAfter = row.firmwareBefore;
        } else if (unit.step == UnitStep::Sound) {
            wanted = setup_.sound;
        } else if (unit.step == UnitStep::Sheet) {
            wanted = !setup_.sheetsFolder.empty();
        }
        if (!wanted) {
            mark(unit, unit.step, StepMark::Skipped);
            continue;
        }
        if (stopping_) {
            row.failedStep = unit.step;
            row.reason = kStopped;
            finishUnit(unit, UnitOutcome::Stopped);
            return;
        }
        break;
    }
    runStep(unit);
}

void Series::writeSheet(Unit& unit) {
    UnitRow& row = rows_[unit.row];
    try {
        ParameterList sheet = *resources_.model;
        // What the controller holds now, as read back after the write.
        sheet.LoadSettingsText(unit.settings);
        const std::filesystem::path folder = std::filesystem::u8path(setup_.sheetsFolder);
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        const std::string path = (folder / (std::to_string(row.serial) + ".html")).u8string();
        const std::string date = localTime("%d.%m.%Y");
        replaceFileContent(path, settingsSheetHtml(sheet,
                                                   "Серия от " + localTime("%d.%m.%Y %H:%M") + ", устройство " +
                                                       std::to_string(row.number) + ", настройки из " + setup_.referencePath,
                                                   "Серийный номер " + std::to_string(row.serial) + ", " + date));
        row.sheetFile = path;
    } catch (const std::exception& e) {
        failUnit(unit, std::string("лист не записан: ") + e.what());
        return;
    }
    mark(unit, UnitStep::Sheet, StepMark::Done);
    finishUnit(unit, UnitOutcome::Done);
}

void Series::failUnit(Unit& unit, const std::string& reason) {
    UnitRow& row = rows_[unit.row];
    mark(unit, unit.step, StepMark::Failed);
    row.failedStep = unit.step;
    row.reason = reason;
    finishUnit(unit, UnitOutcome::Failed);
}

void Series::finishUnit(Unit& unit, UnitOutcome outcome) {
    UnitRow& row = rows_[unit.row];
    row.outcome = outcome;
    row.seconds = std::chrono::duration<double>(SteadyClock::now() - row.started).count();
    row.progress = row.progressMaximum = 0;
    if (outcome == UnitOutcome::Done)
        done_.insert(row.serial);
    observer_.unitChanged(row);
    const auto port = ports_.find(row.port);
    if (port != ports_.end()) {
        // Still plugged in, it is not taken again; plugged in again, it is (unless done).
        port->second->state = Port::State::Holds;
        port->second->holding = true;
        port->second->serial = row.serial;
        port->second->unit = 0;
        port->second->askAfter = SteadyClock::now() + std::chrono::milliseconds(platform_.askAgainMs);
        port->second->letGo = SteadyClock::now();
    }
    if (unit.cameBack) {
        const auto back = ports_.find(unit.cameBackPort);
        if (back != ports_.end())
            back->second->state = Port::State::New;
        retire(std::move(unit.cameBack));
    }
    retire(std::move(unit.runner));
    std::unique_ptr<Unit> gone = std::move(units_[row.number]);
    units_.erase(row.number);
    // Its host may be in the call that got here.
    retire(std::move(gone));
    writeCsv();
    if (outcome == UnitOutcome::Failed && setup_.stopOnFailure)
        stop();
    maybeEnd();
}

void Series::maybeEnd() {
    if (ended_ || !started_ || !units_.empty())
        return;
    const bool counted = setup_.expected > 0 && unitsStarted_ >= setup_.expected;
    if (!stopping_ && !counted)
        return;
    for (auto& [name, port] : ports_)
        if (port->state == Port::State::Asking) {
            retire(std::move(port->runner));
            port->state = Port::State::New;
        }
    ended_ = true;
    lister_->stop();
    writeCsv();
    observer_.seriesLine("Серия закончена: выполнено " + std::to_string(doneCount()) + ", не выполнено " +
                         std::to_string(failedCount()));
    observer_.seriesEnded();
}

std::string Series::csvText() const {
    std::string text = "unit,port,serial,type,firmware_before,firmware_after,outcome,failed_step,reason,seconds,sheet\r\n";
    for (const UnitRow& r : rows_) {
        if (r.outcome == UnitOutcome::Running)
            continue;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
        const std::string fields[] = {std::to_string(r.number),
                                      r.port,
                                      std::to_string(r.serial),
                                      r.type,
                                      r.firmwareBefore,
                                      r.firmwareAfter,
                                      unitOutcomeName(r.outcome),
                                      r.failedStep ? unitStepName(*r.failedStep) : "",
                                      r.reason,
                                      seconds,
                                      r.sheetFile};
        std::string line;
        for (const std::string& f : fields)
            line += (line.empty() ? "" : ",") + csvField(f);
        text += line + "\r\n";
    }
    return text;
}

void Series::writeCsv() {
    if (csvFile_.empty())
        return;
    // Rewritten after each unit: a series cut short keeps what it did.
    try {
        const std::filesystem::path parent = std::filesystem::u8path(csvFile_).parent_path();
        std::error_code ec;
        if (!parent.empty())
            std::filesystem::create_directories(parent, ec);
        replaceFileContent(csvFile_, csvText());
        if (!csvProblem_.empty()) {
            csvProblem_.clear();
            observer_.seriesLine("Итог серии записан: " + csvFile_);
        }
    } catch (const std::exception& e) {
        if (csvProblem_ != e.what())
            observer_.seriesLine(std::string("Итог серии не записан: ") + e.what());
        csvProblem_ = e.what();
    }
}

} // namespace jobs
