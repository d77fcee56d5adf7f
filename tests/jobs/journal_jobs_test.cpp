// Each job's journal record, made through the runner against a scripted
// controller: what it holds, when it is written, and that recording changes
// nothing for the job.
#include "BackupJob.h"
#include "BackupStore.h"
#include "Embedded.h"
#include "FirmwareJob.h"
#include "InfoJobs.h"
#include "JobJournal.h"
#include "RecordingHost.h"
#include "RestoreJob.h"
#include "Runner.h"
#include "ScriptedDevice.h"
#include "SettingsWriteJob.h"
#include "SoundJob.h"
#include "TempDir.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace {

using jobs::Outcome;
using journal::JobKind;
using journal::JobOutcome;
using Strings = std::vector<std::string>;

// A host that looks into the journal the moment a box is shown.
struct PeekingHost : RecordingHost {
    std::function<void()> onBox;
    void tell(const jobs::Notice& n) override {
        if (onBox)
            onBox();
        RecordingHost::tell(n);
    }
    void failed(const jobs::Failure& f) override {
        if (onBox)
            onBox();
        RecordingHost::failed(f);
    }
    bool ask(const jobs::Question& q) override {
        if (onBox && q.topic == jobs::Topic::TakeKept)
            onBox();
        return RecordingHost::ask(q);
    }
};

struct JournalJobs : ::testing::Test, IsolatedSetup {
    PeekingHost host;
    std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
    ParameterList model{embeddedText("PARAMETER_LIST")};
    journal::JournalStore store{dir / "journal.sqlite"};
    jobs::JobJournal journal{store, journal::Workplace{"BENCH-PC", "tech", "z58test", "9.9"}};
    jobs::Runner runner;

    JournalJobs() {
        runner.setDevice(device);
        runner.setJournal(&journal);
    }
    Outcome run(std::shared_ptr<jobs::Job> job) { return runner.run(std::move(job)); }
    // The one record the journal holds, whole.
    journal::JobRecord only() {
        const std::vector<journal::JobRecord> all = store.list();
        EXPECT_EQ(all.size(), 1u);
        if (all.empty())
            return {};
        return *store.find(all[0].id);
    }
    jobs::Carried carried(const char* name) {
        const EmbeddedResource r = embeddedResource(name);
        return {r.data, r.size};
    }
    jobs::SettingsWriteJob::Options writeOptions() {
        jobs::SettingsWriteJob::Options o;
        o.confirm = false;
        return o;
    }
};

} // namespace

TEST_F(JournalJobs, a_write_the_controller_did_not_keep_is_failed_with_its_changes_and_backup) {
    device->settingsText = "MicLevel=10\nPinCod=4821\n";
    device->keeps = [](const std::string&) { return std::string("MicLevel=11\nPinCod=1234\n"); };
    host.unchoose = {"PinCod"};
    auto o = writeOptions();
    o.choose = true;
    bool endedBeforeBox = false;
    host.onBox = [&] {
        const auto listed = store.list();
        endedBeforeBox = listed.size() == 1 && listed[0].outcome == JobOutcome::Failed && !listed[0].ended.empty();
    };
    EXPECT_EQ(run(std::make_shared<jobs::SettingsWriteJob>(host, model, "MicLevel=15\nPinCod=1234\n", o)), Outcome::Failed);
    EXPECT_TRUE(endedBeforeBox) << "completed before the box that ends the job";

    const journal::JobRecord r = only();
    EXPECT_EQ(r.kind, JobKind::SettingsWrite);
    EXPECT_EQ(r.outcome, JobOutcome::Failed);
    EXPECT_EQ(r.reason, "Устройство сохранило не все настройки");
    EXPECT_EQ(r.serial, 77u);
    EXPECT_EQ((r.pc + "|" + r.user + "|" + r.program + "|" + r.version + "|" + r.port), "BENCH-PC|tech|z58test|9.9|COM7");
    ASSERT_EQ(r.changes.size(), 2u);
    const journal::ChangeEntry* mic = nullptr;
    const journal::ChangeEntry* pin = nullptr;
    for (const auto& c : r.changes)
        (c.key == "MicLevel" ? mic : pin) = &c;
    ASSERT_TRUE(mic && pin);
    EXPECT_EQ(mic->from + ">" + mic->to, "10>15");
    EXPECT_TRUE(mic->notKept);
    EXPECT_EQ(mic->keptValue, "11");
    EXPECT_TRUE(pin->leftOut);
    EXPECT_EQ(pin->from.find("4821"), std::string::npos) << "the PIN is masked";
    EXPECT_EQ(pin->to.find("1234"), std::string::npos);
    EXPECT_EQ(r.backupText, "MicLevel=10\nPinCod=4821\n") << "the backup's text, for a restore from the journal";
    EXPECT_FALSE(r.backupFile.empty());
}

TEST_F(JournalJobs, a_write_that_fails_or_is_refused_keeps_the_reason_and_code) {
    device->results["write"] = -2;
    EXPECT_EQ(run(std::make_shared<jobs::SettingsWriteJob>(host, model, "MicLevel=12\n", writeOptions())), Outcome::Failed);
    journal::JobRecord r = only();
    EXPECT_EQ(r.outcome, JobOutcome::Failed);
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.reason.rfind("Запись настроек: ", 0), 0u) << r.reason;

    ASSERT_TRUE(store.list().size() == 1);
    const std::string tooLong(5000, 'x');
    EXPECT_EQ(run(std::make_shared<jobs::SettingsWriteJob>(host, model, "MicLevel=" + tooLong + "\n", writeOptions())),
              Outcome::Refused);
    const auto all = store.list();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].outcome, JobOutcome::Failed) << "refused: nothing could be sent";
    EXPECT_FALSE(all[0].reason.empty());
}

TEST_F(JournalJobs, a_declined_firmware_update_sends_nothing_and_says_so) {
    host.answers = {false};
    EXPECT_EQ(run(std::make_shared<jobs::FirmwareJob>(host, carried("blow"), model, jobs::FirmwareJob::Options{})),
              Outcome::Declined);
    EXPECT_TRUE(device->calls.empty());
    const journal::JobRecord r = only();
    EXPECT_EQ(r.kind, JobKind::Firmware);
    EXPECT_EQ(r.outcome, JobOutcome::Declined);
    EXPECT_EQ(r.firmwareAfter, "") << "nothing was put on it";
}

TEST_F(JournalJobs, a_firmware_update_with_restore_is_one_record_with_before_after_and_backup) {
    device->settingsText = "MicLevel=13\n";
    jobs::FirmwareJob::Options o;
    o.backAfterRestartMs = 100;
    EXPECT_EQ(run(std::make_shared<jobs::FirmwareJob>(host, carried("blow"), model, o)), Outcome::Done);
    const journal::JobRecord r = only();  // the backup and the restore inside are part of it
    EXPECT_EQ(r.kind, JobKind::Firmware);
    EXPECT_EQ(r.outcome, JobOutcome::Done);
    EXPECT_EQ(r.deviceType, "QV_r2");
    EXPECT_EQ(r.firmwareBefore, "001.050");
    EXPECT_EQ(r.firmwareAfter, "001.050") << "what the controller reports once back";
    EXPECT_EQ(r.serial, 77u);
    EXPECT_EQ(r.backupText, "MicLevel=13\n");

    // Without the wait for it to come back nothing was read after.
    o.offerRestore = false;
    EXPECT_EQ(run(std::make_shared<jobs::FirmwareJob>(host, carried("blow"), model, o)), Outcome::Done);
    EXPECT_EQ(store.list()[0].firmwareAfter, journal::kNotRead);
}

TEST_F(JournalJobs, restore_backup_read_and_sound_each_have_their_kind) {
    const std::string path = saveBackup(77, "MicLevel=14\n");
    EXPECT_EQ(run(std::make_shared<jobs::RestoreJob>(host, model, path)), Outcome::Done);
    EXPECT_EQ(run(std::make_shared<jobs::BackupJob>(host, jobs::BackupJob::Mode::Standalone)), Outcome::Done);
    EXPECT_EQ(run(std::make_shared<jobs::ReadSettingsJob>(host)), Outcome::Done);
    EXPECT_EQ(run(std::make_shared<jobs::SoundJob>(host, carried("wave_list"))), Outcome::Done);
    std::vector<JobKind> kinds;
    for (const journal::JobRecord& r : store.list()) {
        kinds.push_back(r.kind);
        EXPECT_EQ(r.outcome, JobOutcome::Done);
        EXPECT_FALSE(r.ended.empty());
    }
    EXPECT_EQ(kinds, (std::vector<JobKind>{JobKind::Sound, JobKind::SettingsRead, JobKind::Backup, JobKind::Restore}));
    journal::RecordFilter backups;
    backups.kind = JobKind::Backup;
    const journal::JobRecord backup = *store.find(store.list(backups)[0].id);
    EXPECT_EQ(backup.serial, 77u);
    EXPECT_EQ(backup.backupText, "MicLevel=14\n") << "a standalone backup holds its text";
}

TEST_F(JournalJobs, information_reads_are_not_recorded) {
    EXPECT_EQ(run(std::make_shared<jobs::SerialJob>(host)), Outcome::Done);
    EXPECT_EQ(run(std::make_shared<jobs::VersionJob>(host)), Outcome::Done);
    EXPECT_EQ(run(std::make_shared<jobs::DiagnosticsJob>(host)), Outcome::Done);
    EXPECT_TRUE(store.list().empty());
}

TEST_F(JournalJobs, written_before_the_first_exchange_and_a_dropped_job_ends_interrupted) {
    const jobs::Runner::RunId id = runner.start(std::make_shared<jobs::ReadSettingsJob>(host));
    ASSERT_TRUE(runner.running(id));
    EXPECT_TRUE(device->calls.empty()) << "its work has not run yet";
    auto listed = store.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].outcome, JobOutcome::Interrupted);
    EXPECT_TRUE(listed[0].ended.empty());

    runner.drop(id);
    listed = store.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].outcome, JobOutcome::Interrupted);
    EXPECT_FALSE(listed[0].ended.empty()) << "its end is on record";
    EXPECT_TRUE(host.only("log Работа не записана").empty());
}

TEST_F(JournalJobs, recording_adds_no_exchange_to_an_upload) {
    EXPECT_EQ(run(std::make_shared<jobs::SoundJob>(host, carried("wave_list"))), Outcome::Done);
    const Strings recorded = device->calls;
    auto bare = std::make_shared<ScriptedDevice>();
    jobs::Runner plain;
    plain.setDevice(bare);
    RecordingHost other;
    EXPECT_EQ(plain.run(std::make_shared<jobs::SoundJob>(other, carried("wave_list"))), Outcome::Done);
    EXPECT_EQ(recorded, bare->calls);
    EXPECT_EQ(host.events, other.events) << "and says nothing more";
}

TEST_F(JournalJobs, a_journal_that_cannot_be_written_is_said_once_and_the_job_goes_on) {
    const std::string path = dir / "broken.sqlite";
    const std::string garbage(4096, '\x5a');
    std::ofstream(path, std::ios::binary) << garbage;
    journal::JournalStore broken(path);
    jobs::JobJournal brokenJournal(broken, journal::Workplace::here("z58test"));
    runner.setJournal(&brokenJournal);
    device->keeps = [](const std::string& t) { return t; };
    EXPECT_EQ(run(std::make_shared<jobs::SettingsWriteJob>(host, model, "MicLevel=12\n", writeOptions())), Outcome::Done);
    EXPECT_EQ(device->written, "MicLevel=12\n");
    const Strings said = host.only("log Работа не записана в журнал обслуживания: ");
    ASSERT_EQ(said.size(), 1u) << "once per job";
    EXPECT_NE(said[0].find("broken.sqlite"), std::string::npos) << said[0];
    EXPECT_EQ(host.events.back(), "tell Сообщение|Настройки записаны.");
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), garbage) << "the file is left as it was";
}
