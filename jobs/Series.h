#pragma once
// A series: many controllers prepared the same way, one after another or
// several at once, each known by its serial number (never by its port). Per
// unit, with the jobs that exist: identify (serial number, type, version; a
// unit of another type than the carried firmware fails with nothing sent),
// back up, update the firmware when due (then wait for the same serial number
// on whichever port it comes back, and check the version), load the sound bank
// when asked, write the reference settings with the owner's values as set up
// (read back by the write's own check), write the unit's sheet. Every job is
// on record, tagged with the series and the unit's number.
//
// Every port runs its own unit on a runner of its own (up to kMaxPorts at
// once): a unit that fails or whose cable is pulled ends alone. Everything
// here runs on the loop's thread; the ports are listed on a thread of the
// series' own, the work on each runner's thread.
#include "EventLoop.h"
#include "Executor.h"
#include "Job.h"
#include "ParameterList.h"
#include "UploadJob.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace jobs {

class JobJournal;
class Pacer;
class PortClaims;
class Runner;

enum class FirmwarePolicy {
    Older,   // update when the controller's version is older than the carried one
    Always,  // every unit, also one with a newer version (downgraded)
    Never,
};
// "older", "always", "never".
const char* firmwarePolicyName(FirmwarePolicy policy);
std::optional<FirmwarePolicy> firmwarePolicyFromName(const std::string& name);

struct SeriesSetup {
    std::string referencePath;  // UTF-8: shown, named on the sheets
    std::string referenceText;  // the settings text as read from the file (Windows-1251)
    FirmwarePolicy firmware = FirmwarePolicy::Older;
    bool sound = false;
    // The owner's values (PIN, phone numbers): false keeps each unit's own.
    bool writeOwner = false;
    int expected = 0;           // the series ends after this many units; 0: when stopped
    std::string sheetsFolder;   // UTF-8; empty: no sheets
    // The series' CSV; empty: beside the sheets ("series-<start>.csv"), or none without sheets.
    std::string csvPath;
    bool stopOnFailure = false;
    // The ports to take units from (COMn); empty: every port.
    std::vector<std::string> ports;
};

// Whether a reference text can be written to every unit: empty when it can,
// otherwise why not (UTF-8): no settings in it, a value its parameter does not
// take, too long for the controller.
std::string checkReference(const ParameterList& model, const std::string& text);

enum class UnitStep { Identify, Backup, Firmware, Sound, Settings, Sheet };
constexpr int kUnitStepCount = 6;
constexpr UnitStep kUnitSteps[kUnitStepCount] = {UnitStep::Identify, UnitStep::Backup,   UnitStep::Firmware,
                                                 UnitStep::Sound,    UnitStep::Settings, UnitStep::Sheet};
// "Опознание", "Копия", "Прошивка", "Звук", "Настройки", "Лист".
const char* unitStepTitle(UnitStep step);
// "identify", "backup", "firmware", "sound", "settings", "sheet": the CSV's and the terminal's.
const char* unitStepName(UnitStep step);

enum class StepMark { Waiting, Running, Done, Skipped, Failed };

enum class UnitOutcome { Running, Done, Failed, Stopped };
// "running", "done", "failed", "stopped".
const char* unitOutcomeName(UnitOutcome outcome);

struct UnitRow {
    int number = 0;             // 1, 2, ... in the order units started
    std::string port;           // where it is now (a restart may move it)
    std::uint32_t serial = 0;
    std::string type;           // UTF-8, as the controller names it
    std::string firmwareBefore, firmwareAfter;  // after: empty until updated (or not updated: as before)
    StepMark marks[kUnitStepCount] = {};
    UnitOutcome outcome = UnitOutcome::Running;
    std::optional<UnitStep> failedStep;  // failed or stopped: the step it did not get through
    std::string reason;         // UTF-8: why it failed, as its job said
    std::chrono::steady_clock::time_point started;
    double seconds = 0;         // from identify to its end
    std::string sheetFile;      // UTF-8 path; empty: none
    int progress = 0, progressMaximum = 0;  // the running upload's bar; maximum 0: none
};

class SeriesObserver {
public:
    virtual ~SeriesObserver() = default;
    // A unit started, moved on or ended (row.outcome).
    virtual void unitChanged(const UnitRow& row) = 0;
    // A line about the series or a unit's progress (the terminal's stderr).
    virtual void seriesLine(const std::string& line) { (void)line; }
    // Nothing runs any more: ended by its count, stopped, or stopped after a failure.
    virtual void seriesEnded() = 0;
};

// The carried data every unit gets, borrowed for the series' life.
struct SeriesResources {
    Carried firmware;
    Carried soundBank;
    const ParameterList* model = nullptr;  // the description the settings are checked and read back by
};

// What the program lends the series.
struct SeriesPlatform {
    EventLoop* loop = nullptr;
    // A device on a port (not opened yet).
    std::function<DevicePtr(const std::string& port)> device;
    // A runner's thread of work; its ends must be posted to loop.
    std::function<std::unique_ptr<Executor>()> executor;
    // The ports there now, skipping those skip names (open elsewhere); called on
    // the series' own thread, so it may probe. Empty: presentSeriesPorts.
    std::function<std::vector<std::string>(const std::function<bool(const std::string&)>& skip)> ports;
    // An upload's pacing for a runner (may give null: every step at once).
    std::function<std::unique_ptr<Pacer>()> pacer;
    PortClaims* claims = nullptr;   // the program's: a port one of its windows has open is left alone
    // Runs each job step of the series' runners (the desktop program's catches what escapes and shows it).
    std::function<void(const std::function<void()>&)> guard;
    JobJournal* journal = nullptr;  // may be null: nothing on record
    // How often the ports are listed, and a quiet or finished port asked again.
    std::uint32_t listEveryMs = 500;
    std::uint32_t askAgainMs = 2000;
    // How long a unit may take to answer again after the firmware's restart.
    std::uint32_t backAfterRestartMs = 30000;
};

// COM2 to COM254 that can be opened now, less those skip names.
std::vector<std::string> presentSeriesPorts(const std::function<bool(const std::string&)>& skip);

class Series {
public:
    static constexpr int kMaxPorts = 8;

    // setup is checked by the caller (checkReference) before it gets here.
    Series(SeriesSetup setup, SeriesResources resources, SeriesPlatform platform, SeriesObserver& observer);
    // Drops what still runs (the program is closing): its jobs end interrupted.
    ~Series();
    Series(const Series&) = delete;
    Series& operator=(const Series&) = delete;

    void start();
    // No new unit starts; a running unit finishes the job it is in (an upload
    // finishes or fails as it would), then ends stopped; then the series ends.
    void stop();
    bool started() const { return started_; }
    bool ended() const { return ended_; }
    bool stopping() const { return stopping_; }

    // The unit of that row is done again when it is next seen (still plugged in: at once).
    void again(int number);

    const std::string& id() const { return id_; }
    const SeriesSetup& setup() const { return setup_; }
    const std::vector<UnitRow>& units() const { return rows_; }
    int doneCount() const;
    int failedCount() const;
    int runningCount() const;
    // Where the CSV goes (empty: none), and why it could not be written (empty: written or not yet).
    const std::string& csvFile() const { return csvFile_; }
    const std::string& csvProblem() const { return csvProblem_; }
    // The CSV's text as it is now: a header line and one line per ended unit.
    std::string csvText() const;

private:
    struct Unit;
    struct Port;
    class Lister;

    // asked: when the list was begun.
    void portsListed(std::vector<std::string> present, std::chrono::steady_clock::time_point asked);
    void identify(const std::string& port);
    void identified(const std::string& port, std::uint32_t serial);
    // serial is a unit waiting after its firmware's restart: it goes on there.
    bool handBack(const std::string& port, std::uint32_t serial);
    void beginUnit(const std::string& port, std::uint32_t serial);
    void runStep(Unit& unit);
    void afterJob(int number, Outcome outcome);
    void nextStep(Unit& unit);
    void failUnit(Unit& unit, const std::string& reason);
    void finishUnit(Unit& unit, UnitOutcome outcome);
    void writeSheet(Unit& unit);
    void writeCsv();
    void maybeEnd();
    void mark(Unit& unit, UnitStep step, StepMark mark);
    std::unique_ptr<Runner> makeRunner(const std::string& port);
    void retire(std::unique_ptr<Runner> runner);
    void retire(std::unique_ptr<Unit> unit);
    void dropRetired();
    Unit* unitOf(int number);
    bool mayStartUnit() const;
    // A unit's controller restarted after its firmware update and is looked for.
    bool waitingBack() const;
    void changed(const Unit& unit);

    SeriesSetup setup_;
    std::unique_ptr<PortClaims> ownClaims_;  // when the program lends none; outlives every runner here
    SeriesResources resources_;
    SeriesPlatform platform_;
    SeriesObserver& observer_;
    std::string id_, csvFile_, csvProblem_, startedText_;
    std::string carriedType_, carriedVersion_;  // the carried firmware's (Windows-1251)
    std::vector<UnitRow> rows_;
    std::map<int, std::unique_ptr<Unit>> units_;     // running units by number
    std::map<std::string, std::unique_ptr<Port>> ports_;  // the ports seen, by name
    std::set<std::uint32_t> done_;                   // serial numbers done in this series
    // Let go inside one of their own calls: destroyed a moment later, on the loop.
    std::vector<std::unique_ptr<Runner>> retiredRunners_;
    std::vector<std::unique_ptr<Unit>> retiredUnits_;
    std::unique_ptr<Lister> lister_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool started_ = false, stopping_ = false, ended_ = false;
    int unitsStarted_ = 0;
};

} // namespace jobs
