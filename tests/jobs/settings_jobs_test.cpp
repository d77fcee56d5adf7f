// The settings write with its backup, the restore, the standalone backup and
// the port search, without a window.
#include "BackupJob.h"
#include "BackupStore.h"
#include "PortSearchJob.h"
#include "RecordingHost.h"
#include "RestoreJob.h"
#include "ScriptedDevice.h"
#include "SettingsWriteJob.h"
#include "TempDir.h"
#include "WaitFor.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using jobs::Outcome;
using Strings = std::vector<std::string>;

struct SettingsJobs : ::testing::Test, IsolatedSetup {
    RecordingHost host;
    std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();

    Outcome write(jobs::SettingsWriteJob::Options o, const std::string& text = "MicLevel=12\n") {
        jobs::SettingsWriteJob job(host, device, text, o);
        return jobs::runToEnd(job);
    }
};

} // namespace

TEST_F(SettingsJobs, write_asks_backs_up_then_writes_and_says_so) {
    EXPECT_EQ(write({}), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"read", "serial", "write"}));
    EXPECT_EQ(device->written, "MicLevel=12\n");
    ASSERT_EQ(host.events.size(), 3u);
    EXPECT_EQ(host.events[0], "ask Внимание|Записать настройки в устройство?");
    EXPECT_EQ(host.events[1].rfind("log Резервная копия настроек: ", 0), 0u);
    EXPECT_EQ(host.events[2], "tell Сообщение|Настройки записаны.");
    const std::string backup = host.events[1].substr(std::string("log Резервная копия настроек: ").size());
    EXPECT_EQ(readWhole(backup), "MicLevel=10\r\n") << "what the controller held before";
}

TEST_F(SettingsJobs, write_cancelled_or_failed_claims_nothing) {
    host.answers = {false};
    EXPECT_EQ(write({}), Outcome::Declined);
    EXPECT_TRUE(device->calls.empty()) << "Cancel sends nothing";

    host = RecordingHost{};
    device->results = {{"write", -2}};
    EXPECT_EQ(write({false, false}), Outcome::Failed);
    EXPECT_EQ(device->frames(), Strings{"write"});
    EXPECT_EQ(host.events, Strings{"failed Устройство не подключено или занято|Запись настроек -2"});
}

TEST_F(SettingsJobs, a_backup_that_cannot_be_saved_asks_first) {
    // A file where the backups folder should be (either platform's).
    std::ofstream(dir / "data") << "x";
    std::ofstream(dir / "local") << "x";
    host.answers = {false};
    EXPECT_EQ(write({false, true}), Outcome::Declined);
    EXPECT_EQ(device->frames(), (Strings{"read", "serial"})) << "not written";
    ASSERT_EQ(host.events.size(), 2u);
    EXPECT_EQ(host.events[0].rfind("detail Резервная копия настроек не сохранена: Папка резервных копий ", 0), 0u);
    EXPECT_EQ(host.events[1].rfind("ask Внимание|Не удалось сохранить резервную копию настроек.\nПапка резервных копий ", 0), 0u);
    EXPECT_EQ(host.topics, std::vector<jobs::Topic>{jobs::Topic::NoBackup});

    host = RecordingHost{};
    EXPECT_EQ(write({false, true}), Outcome::Done) << "OK goes on without it";
    EXPECT_EQ(device->count("write"), 1);
}

TEST_F(SettingsJobs, standalone_backup_fails_as_a_command_does) {
    jobs::BackupJob ok(host, device, jobs::BackupJob::Mode::Standalone);
    EXPECT_EQ(jobs::runToEnd(ok), Outcome::Done);
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0], "tell |" + ok.path() + "\n") << "the path is the result";
    EXPECT_TRUE(std::filesystem::exists(ok.path()));

    host = RecordingHost{};
    device->results = {{"serial", -3}};
    jobs::BackupJob failed(host, device, jobs::BackupJob::Mode::Standalone);
    EXPECT_EQ(jobs::runToEnd(failed), Outcome::Failed);
    EXPECT_EQ(host.events, Strings{"failed |Серийный номер -3"});
    EXPECT_TRUE(host.only("ask ").empty()) << "nothing to decide on its own";
}

TEST_F(SettingsJobs, restore_only_with_ok_and_a_missing_file_is_said) {
    std::filesystem::create_directories(dir / "b");
    std::ofstream(dir / "b/77_x.txt", std::ios::binary) << "PinCod=1234\r\nOdd=1\r\n";
    host.answers = {false};
    jobs::RestoreJob declined(host, device, dir / "b/77_x.txt");
    EXPECT_EQ(jobs::runToEnd(declined), Outcome::Declined);
    EXPECT_TRUE(device->calls.empty());

    host = RecordingHost{};
    jobs::RestoreJob restore(host, device, dir / "b/77_x.txt");
    EXPECT_EQ(jobs::runToEnd(restore), Outcome::Done);
    EXPECT_EQ(device->written, "PinCod=1234\nOdd=1\n") << "every line back, unknown keys too, with the controller's LF";
    EXPECT_EQ(host.events.back(), "tell Сообщение|Настройки восстановлены.");

    host = RecordingHost{};
    device->calls.clear();
    jobs::RestoreJob gone(host, device, dir / "b/missing.txt");
    EXPECT_EQ(jobs::runToEnd(gone), Outcome::Failed);
    EXPECT_TRUE(device->calls.empty());
    ASSERT_EQ(host.only("failed ").size(), 1u);
    EXPECT_NE(host.only("failed ")[0].find("missing.txt"), std::string::npos);
}

TEST_F(SettingsJobs, port_search_reports_what_answered_or_that_nothing_did) {
    device->searchReport = "Порт:\tCOM3\nТип:\tQV_r2\n";
    jobs::PortSearchJob found(host, device);
    auto next = found.start();
    ASSERT_TRUE(next && next->search) << "shown as a search, with its Cancel";
    EXPECT_FALSE(found.resume(next->run()));
    EXPECT_EQ(found.outcome(), Outcome::Done);
    EXPECT_EQ(host.events, Strings{"tell Устройство найдено|Порт:\tCOM3\nТип:\tQV_r2\n"});

    host = RecordingHost{};
    device->results = {{"search", 0}};
    jobs::PortSearchJob missing(host, device);
    EXPECT_EQ(jobs::runToEnd(missing), Outcome::Failed);
    EXPECT_EQ(host.events, Strings{"tell Внимание|Устройство не найдено"});
}
