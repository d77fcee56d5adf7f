// z58ctl commands that talk to the controller: every one is a job of the
// desktop program's own, run to its end by a runner on this thread with the
// terminal as its host.
#include "BackupJob.h"
#include "Cli.h"
#include "Console.h"
#include "Cp1251.h"
#include "Device.h"
#include "Embedded.h"
#include "FirmwareJob.h"
#include "InfoJobs.h"
#include "JobJournal.h"
#include "ServerSetting.h"
#include "SyncWorker.h"
#include "ParameterList.h"
#include "PortList.h"
#include "PortProblem.h"
#include "PortSearchJob.h"
#include "PortSettingStore.h"
#include "ReportJob.h"
#include "Runner.h"
#include "SettingsChoice.h"
#include "SettingsFile.h"
#include "SettingsWriteJob.h"
#include "SoundJob.h"
#include "TerminalHost.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace cli {

// How long the program may wait at its end for a server that answers to take the last record.
constexpr std::chrono::milliseconds kLastSendMs{300};

std::unique_ptr<jobs::Runner> openRunner(const Args& a) {
    refreshPortNames(); // a controller plugged in a moment ago has its COMn now
    auto runner = std::make_unique<jobs::Runner>();
    const std::string port = a.port.empty() ? portSettingStore().read() : a.port;
    runner->setDevice(std::make_shared<Device>(port, &runner->trace()));
    return runner;
}

namespace {

// The records go to the workshop's server while the command runs, when one is set.
std::unique_ptr<journal::SyncWorker> syncWorker;

} // namespace

jobs::JobJournal& programJournal() {
    // Opened at the first job that is recorded: a quick read never touches the file.
    static journal::JournalStore store;
    static jobs::JobJournal journal(store, journal::Workplace::here("z58ctl"));
    static const bool syncing = [] {
        const std::string server = journal::journalServer();
        if (server.empty() || store.access() != journal::JournalAccess::Writable)
            return false;
        syncWorker = std::make_unique<journal::SyncWorker>(store.path(), server);
        journal.setWritten([] { syncWorker->kick(); });
        return true;
    }();
    (void)syncing;
    return journal;
}

void finish(int code) {
    if (syncWorker) {
        // A server that answers takes the last record in a moment; one that
        // does not is not waited for: its records wait for the next sync.
        using Clock = std::chrono::steady_clock;
        const auto until = Clock::now() + kLastSendMs;
        while (syncWorker->busy() && syncWorker->last().reached && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        syncWorker.reset();
        // A pass still talking to a server that does not answer: the exit
        // handlers of its libraries must not run under it.
        if (journal::SyncWorker::leftRunning() > 0) {
            std::fflush(nullptr);
            std::_Exit(code);
        }
    }
    std::exit(code);
}

int runJob(const Args& a, TerminalHost& host, std::shared_ptr<jobs::Job> job) {
    std::unique_ptr<jobs::Runner> runner = openRunner(a);
    if (job->recordKind())
        runner->setJournal(&programJournal());
    return host.exitCode(runner->run(std::move(job)));
}

int findPortCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl find-port"))
        return kUsage;
    TerminalHost host(a);
    // The search starts from the remembered port, whatever --port says.
    auto job = std::make_shared<jobs::PortSearchJob>(host);
    const int code = runJob(Args{}, host, job);
    if (code == kOk && !portSettingStore().write(job->foundPort()))
        err("Порт " + job->foundPort() + " не запомнен: " + portSettingStore().location());
    return code;
}

int portsCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl ports"))
        return kUsage;
    for (const PresentPort& p : refreshPortNames()) {
        const std::string line = (p.name.empty() ? "-" : p.name) + "\t" + p.device + "\t" + usbIds(p) + "\t" +
                                 (p.serial.empty() ? "-" : p.serial) + "\t" + p.description;
        std::fputs((visible(line, true) + "\n").c_str(), stdout);
    }
    return kOk;
}

int doctorCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl doctor"))
        return kUsage;
    for (const std::string& line : portDoctorReport())
        std::fputs((visible(line, false) + "\n").c_str(), stdout);
    return kOk;
}

int serialCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl serial"))
        return kUsage;
    TerminalHost host(a);
    return runJob(a, host, std::make_shared<jobs::SerialJob>(host));
}

int versionCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl version"))
        return kUsage;
    TerminalHost host(a);
    return runJob(a, host, std::make_shared<jobs::VersionJob>(host));
}

int readSettingsCommand(const Args& a) {
    if (a.positional.size() > 1) {
        err("usage: z58ctl read-settings [FILE]");
        return kUsage;
    }
    auto list = loadModel();
    if (!list)
        return kFailed;
    TerminalHost host(a);
    auto job = std::make_shared<jobs::ReadSettingsJob>(host);
    if (const int code = runJob(a, host, job); code != kOk)
        return code;
    list->LoadSettingsText(job->text());
    return fileOperation([&] {
               if (a.positional.empty() && stdoutIsTerminal()) {
                   std::fputs(visible(cp1251::toUtf8(joinLinesCrLf(list->SettingsText())), true).c_str(), stdout);
               } else if (a.positional.empty()) {
                   // Redirected to a file: the same bytes as a saved settings file.
                   stdoutAsBytes();
                   out(joinLinesCrLf(list->SettingsText()));
               } else {
                   writeSettingsFile(a.positional[0], list->SettingsText());
               }
           })
               ? kOk
               : kFailed;
}

int writeSettingsCommand(const Args& a) {
    if (a.positional.size() != 1) {
        err("usage: z58ctl write-settings FILE [--keep KEY,...] [--keep-owner|--write-owner]");
        return kUsage;
    }
    if (a.keepOwner && a.writeOwner) {
        err("--keep-owner and --write-owner say the opposite; give one of them");
        return kUsage;
    }
    auto list = loadModel();
    if (!list)
        return kFailed;
    jobs::SettingsWriteJob::Options options;
    options.confirm = false;
    options.backup = !a.noBackup;
    if (!keptKeys(a, *list, options.keep))
        return kUsage;
    // A file is someone's settings: the owner values stay unless it is this
    // controller's own backup (its name gives the serial) or asked for.
    options.fromFile = true;
    options.fileSerial = serialOfBackupName(a.positional[0]);
    options.writeOwner = a.writeOwner;
    if (!fileOperation([&] { list->LoadSettingsText(readSettingsFile(a.positional[0])); }))
        return kFailed;
    TerminalHost host(a);
    return runJob(a, host, std::make_shared<jobs::SettingsWriteJob>(host, *list, list->SettingsText(), options));
}

int backupCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl backup"))
        return kUsage;
    TerminalHost host(a);
    return runJob(a, host, std::make_shared<jobs::BackupJob>(host, jobs::BackupJob::Mode::Standalone));
}

int reportCommand(const Args& a) {
    if (!positionalCount(a, 1, "z58ctl report OUT.html"))
        return kUsage;
    auto model = loadModel();
    if (!model)
        return kFailed;
    TerminalHost host(a);
    return runJob(a, host,
                  std::make_shared<jobs::ReportJob>(host, *model, a.positional[0],
                                                    jobs::ReportJob::Context{"z58ctl", {}, std::nullopt}));
}

int updateFirmwareCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl update-firmware [--yes]"))
        return kUsage;
    auto model = loadModel();
    if (!model)
        return kFailed;
    jobs::FirmwareJob::Options options;
    options.backup = !a.noBackup;
    // The terminal names the command that puts the settings back instead.
    options.offerRestore = false;
    options.askOtherType = !a.otherType;
    const EmbeddedResource r = embeddedResource("blow");
    TerminalHost host(a);
    return runJob(a, host, std::make_shared<jobs::FirmwareJob>(host, jobs::Carried{r.data, r.size}, *model, options));
}

int updateSoundCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl update-sound [--yes]"))
        return kUsage;
    const EmbeddedResource r = embeddedResource("wave_list");
    TerminalHost host(a);
    return runJob(a, host, std::make_shared<jobs::SoundJob>(host, jobs::Carried{r.data, r.size}));
}

int restartCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl restart"))
        return kUsage;
    TerminalHost host(a);
    return runJob(a, host, std::make_shared<jobs::RestartJob>(host));
}

int diagnosticsCommand(const Args& a) {
    if (!positionalCount(a, 0, "z58ctl diagnostics"))
        return kUsage;
    TerminalHost host(a);
    return runJob(a, host, std::make_shared<jobs::DiagnosticsJob>(host));
}

} // namespace cli
