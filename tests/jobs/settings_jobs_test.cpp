// The settings write with its backup, the restore, the standalone backup and
// the port search, without a window.
#include "BackupJob.h"
#include "BackupStore.h"
#include "Embedded.h"
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
    ParameterList model{embeddedText("PARAMETER_LIST")};

    Outcome write(jobs::SettingsWriteJob::Options o, const std::string& text = "MicLevel=12\n") {
        jobs::SettingsWriteJob job(host, device, model, text, o);
        return jobs::runToEnd(job);
    }
};

} // namespace

TEST_F(SettingsJobs, write_asks_backs_up_then_writes_and_says_so) {
    EXPECT_EQ(write({}), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"read", "serial", "write", "read"})) << "read back before success is said";
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

    // Sent, but the read-back does not come: no success claimed.
    host = RecordingHost{};
    device = std::make_shared<ScriptedDevice>();
    device->results = {{"read", -2}};
    EXPECT_EQ(write({false, false}), Outcome::Failed);
    EXPECT_EQ(host.events, Strings{"failed Настройки отправлены, но проверить их не удалось: устройство не ответило.|"
                                   "Настройки отправлены, но проверить их не удалось: устройство не ответило. -2"});
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
    jobs::RestoreJob declined(host, device, model, dir / "b/77_x.txt");
    EXPECT_EQ(jobs::runToEnd(declined), Outcome::Declined);
    EXPECT_TRUE(device->calls.empty());

    host = RecordingHost{};
    jobs::RestoreJob restore(host, device, model, dir / "b/77_x.txt");
    EXPECT_EQ(jobs::runToEnd(restore), Outcome::Done);
    EXPECT_EQ(device->written, "PinCod=1234\nOdd=1\n") << "every line back, unknown keys too, with the controller's LF";
    EXPECT_EQ(device->frames(), (Strings{"write", "read"})) << "and read back";
    EXPECT_EQ(host.events.back(), "tell Сообщение|Настройки восстановлены.");

    host = RecordingHost{};
    device->calls.clear();
    jobs::RestoreJob gone(host, device, model, dir / "b/missing.txt");
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

TEST_F(SettingsJobs, a_write_is_done_only_when_the_controller_keeps_it) {
    // Kept as values: "05" and "5" of a number are one value; a key missing from
    // the read-back is at its default.
    device->keeps = [](const std::string&) { return std::string("MicLevel=5\nAutoStart=99\n"); };
    EXPECT_EQ(write({false, false}, "MicLevel=05\nAutoStart=99\nSmsBalans=0\n"), Outcome::Failed)
        << "SmsBalans is not at its default, and was not kept";
    ASSERT_EQ(host.only("log ").size(), 1u);
    EXPECT_NE(host.only("log ")[0].find("(SmsBalans): 0 → "), std::string::npos) << host.only("log ")[0];

    host = RecordingHost{};
    device->keeps = [](const std::string& text) { return text.substr(0, text.find("Odd=")); };
    EXPECT_EQ(write({false, false}, "MicLevel=05\nOdd=1\n"), Outcome::Failed) << "an unknown key dropped";
    EXPECT_EQ(host.only("log "), Strings{"log Не сохранено: Odd: 1 → (нет)"});
    ASSERT_EQ(host.only("failed ").size(), 1u);
    EXPECT_EQ(host.only("failed ")[0], "failed Устройство сохранило не все настройки:\nOdd: 1 → (нет)|Устройство сохранило не все настройки 0");
    EXPECT_TRUE(host.only("tell ").empty()) << "no \"Настройки записаны.\"";

    host = RecordingHost{};
    device->keeps = [](const std::string&) { return std::string("MicLevel=8\n"); };
    host.answers = {true};
    jobs::SettingsWriteJob job(host, device, model, "MicLevel=12\n", {false, false, true});
    EXPECT_EQ(jobs::runToEnd(job), Outcome::Failed) << "a number limited by the controller";
    ASSERT_EQ(host.topics, std::vector<jobs::Topic>{jobs::Topic::TakeKept});
    ASSERT_NE(job.keptForEditor(), nullptr);
    EXPECT_EQ(*job.keptForEditor(), "MicLevel=8\n");

    host = RecordingHost{};
    host.answers = {false};
    jobs::SettingsWriteJob kept(host, device, model, "MicLevel=12\n", {false, false, true});
    EXPECT_EQ(jobs::runToEnd(kept), Outcome::Failed);
    EXPECT_EQ(kept.keptForEditor(), nullptr) << "Cancel keeps the user's values";
}
