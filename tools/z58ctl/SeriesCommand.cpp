// z58ctl series: many controllers prepared with one reference settings file,
// each taken as it is plugged in, several ports at once, by the desktop
// program's own series. Each port's work runs on a thread of its own; the
// series itself on this one, in a plain loop. One line per unit on stdout as
// it ends, the series' progress on stderr.
#include "Cli.h"
#include "Console.h"
#include "Cp1251.h"
#include "Device.h"
#include "Embedded.h"
#include "EventLoop.h"
#include "JobJournal.h"
#include "Series.h"
#include "SettingsFile.h"
#include "ThreadExecutor.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

namespace cli {

namespace {

const char kUsageText[] =
    "z58ctl series FILE [--firmware older|always|never] [--sound] [--write-owner] [--ports LIST|--all] [--count N] "
    "[--sheets DIR] [--csv FILE] [--stop-on-failure]";

// The series takes units from COM2 to COM254, as it lists them.
constexpr int kFirstPort = 2, kLastPort = 254;

bool usage(const std::string& why) {
    err(why);
    err(std::string("usage: ") + kUsageText);
    return false;
}

std::optional<int> positiveNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int n = std::stoi(text);
    return n > 0 ? std::optional<int>(n) : std::nullopt;
}

// "COM3,com5" as COM3 and COM5; false (with the message) for a name the series never lists.
bool portNames(const std::string& list, std::vector<std::string>& ports) {
    for (size_t at = 0; at <= list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, comma - at);
        at = comma + 1;
        if (item.empty())
            continue;
        const std::string digits = item.size() > 3 ? item.substr(3) : "";
        std::string prefix = item.substr(0, std::min<size_t>(3, item.size()));
        std::transform(prefix.begin(), prefix.end(), prefix.begin(), [](char c) { return static_cast<char>(c & ~0x20); });
        const bool number = !digits.empty() && digits.size() <= 3 && digits[0] != '0' &&
                            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (prefix != "COM" || !number || std::stoi(digits) < kFirstPort || std::stoi(digits) > kLastPort)
            return usage("--ports: \"" + item + "\" is not a port COM" + std::to_string(kFirstPort) + " to COM" +
                         std::to_string(kLastPort));
        const std::string name = "COM" + digits;
        if (std::find(ports.begin(), ports.end(), name) == ports.end())
            ports.push_back(name);
    }
    if (ports.empty())
        return usage("--ports: no port named");
    return true;
}

// The set-up the options ask for; false (the message said) for wrong usage.
bool readSetup(const Args& a, jobs::SeriesSetup& setup) {
    if (a.positional.size() != 1)
        return usage("series takes one reference settings file");
    if (!a.port.empty())
        return usage("series takes its ports with --ports, not --port");
    if (!a.keep.empty() || a.noBackup || a.otherType)
        return usage(std::string("series does not take ") +
                     (!a.keep.empty() ? "--keep" : a.noBackup ? "--no-backup: every unit is backed up first"
                                                              : "--other-type: a unit of another type is never flashed"));
    if (a.keepOwner && a.writeOwner)
        return usage("--keep-owner and --write-owner say the opposite; give one of them");
    if (a.csv && !a.csvFile)
        return usage("--csv: no file named");
    if (a.ports && a.allPorts)
        return usage("--ports and --all say the opposite; give one of them");
    setup.referencePath = a.positional[0];
    if (a.firmware) {
        const auto policy = jobs::firmwarePolicyFromName(*a.firmware);
        if (!policy)
            return usage("--firmware: \"" + *a.firmware + "\" is not one of older, always, never");
        setup.firmware = *policy;
    }
    if (a.count) {
        const auto n = positiveNumber(*a.count);
        if (!n)
            return usage("--count: \"" + *a.count + "\" is not a positive number");
        setup.expected = *n;
    }
    if (a.ports && !portNames(*a.ports, setup.ports))
        return false;
    if (a.sheets) {
        if (a.sheets->empty())
            return usage("--sheets: no folder named");
        setup.sheetsFolder = *a.sheets;
    }
    if (a.csvFile) {
        if (a.csvFile->empty())
            return usage("--csv: no file named");
        setup.csvPath = *a.csvFile;
    }
    setup.sound = a.sound;
    setup.writeOwner = a.writeOwner;
    setup.stopOnFailure = a.stopOnFailure;
    return true;
}

// Where the summary and the sheets go can be written, before any unit is
// touched; the message when not.
std::string checkOutputs(const jobs::SeriesSetup& setup) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!setup.sheetsFolder.empty()) {
        const fs::path folder = fs::u8path(setup.sheetsFolder);
        fs::create_directories(folder, ec);
        if (!fs::is_directory(folder))
            return "--sheets: " + setup.sheetsFolder + " is not a folder that can be made";
    }
    if (!setup.csvPath.empty()) {
        const fs::path file = fs::u8path(setup.csvPath);
        if (file.has_parent_path())
            fs::create_directories(file.parent_path(), ec);
        // Opened to append: an existing file keeps its content until the first unit ends.
        if (fs::is_directory(file) || !std::ofstream(file, std::ios::binary | std::ios::app))
            return "--csv: " + setup.csvPath + " cannot be written";
    }
    return {};
}

// A field of a unit's line: on one line, control characters visible.
std::string lineField(std::string text) {
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    return visible(text, false);
}

class TerminalSeries final : public jobs::SeriesObserver {
public:
    explicit TerminalSeries(jobs::PlainLoop& loop) : loop_(loop) {}

    void unitChanged(const jobs::UnitRow& row) override {
        if (row.outcome == jobs::UnitOutcome::Running || !printed_.insert(row.number).second)
            return;
        std::string line = std::to_string(row.serial) + "\t" + jobs::unitOutcomeName(row.outcome);
        if (row.outcome != jobs::UnitOutcome::Done)
            line += "\t" + (row.failedStep ? std::string(jobs::unitStepName(*row.failedStep)) + ": " : std::string()) +
                    lineField(row.reason);
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
    }
    void seriesLine(const std::string& line) override { err(lineField(line)); }
    void seriesEnded() override { loop_.quit(); }

private:
    jobs::PlainLoop& loop_;
    std::set<int> printed_;  // a unit done again gets a line of its own only once
};

} // namespace

int seriesCommand(const Args& a) {
    jobs::SeriesSetup setup;
    if (!readSetup(a, setup))
        return kUsage;
    auto model = loadModel();
    if (!model)
        return kFailed;
    std::string problem;
    try {
        setup.referenceText = readSettingsFile(setup.referencePath);
        problem = jobs::checkReference(*model, setup.referenceText);
        if (!problem.empty())
            problem = setup.referencePath + ": " + problem;
    } catch (const std::exception& e) {
        problem = e.what();
    }
    if (problem.empty())
        problem = checkOutputs(setup);
    if (!problem.empty()) {
        err(problem);
        err("The series did not start: nothing was sent.");
        return kUsage;
    }

    jobs::PlainLoop loop;
    // Before any thread starts: the ports' threads never see the signal.
    onInterrupt({});
    const EmbeddedResource firmware = embeddedResource("blow"), sound = embeddedResource("wave_list");
    jobs::SeriesResources resources;
    resources.firmware = jobs::Carried{firmware.data, firmware.size};
    resources.soundBank = jobs::Carried{sound.data, sound.size};
    resources.model = model.get();
    jobs::SeriesPlatform platform;
    platform.loop = &loop;
    platform.device = [](const std::string& port) { return std::make_shared<Device>(port); };
    platform.executor = [&loop] {
        return std::make_unique<jobs::ThreadExecutor>([&loop](std::function<void()> call) { loop.post(std::move(call)); });
    };
    platform.journal = &programJournal();

    TerminalSeries terminal(loop);
    const int expected = setup.expected;
    const std::vector<std::string> ports = setup.ports;
    jobs::Series series(std::move(setup), resources, std::move(platform), terminal);
    onInterrupt([&loop, &series] { loop.post([&series] { series.stop(); }); });
    err("Серия " + series.id() + " (так она названа в журнале работ)");
    std::string where;
    for (const std::string& p : ports)
        where += (where.empty() ? "" : ", ") + p;
    err("Подключайте устройства " + (where.empty() ? std::string("к любому порту") : "к портам " + where) +
        "; Ctrl+C — остановить серию");
    series.start();
    loop.run();
    // From here a Ctrl+C ends the program at once: nothing is left to finish.
    onInterrupt({});

    if (!series.csvFile().empty() && series.csvProblem().empty())
        err("Итог серии: " + series.csvFile());
    const bool allDone = series.failedCount() == 0 && series.doneCount() >= expected;
    return allDone && series.csvProblem().empty() ? kOk : kFailed;
}

} // namespace cli
