// The settings write with its backup, the restore, the standalone backup and
// the port search, without a window.
#include "BackupJob.h"
#include "BackupStore.h"
#include "Embedded.h"
#include "PortSearchJob.h"
#include "RecordingHost.h"
#include "RunJob.h"
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
        jobs::SettingsWriteJob job(host, model, text, o);
        return runOn(device, job);
    }
    static jobs::SettingsWriteJob::Options opts(bool confirm, bool backup, bool offerTake = false) {
        jobs::SettingsWriteJob::Options o;
        o.confirm = confirm;
        o.backup = backup;
        o.offerTake = offerTake;
        return o;
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
    EXPECT_EQ(write(opts(false, false)), Outcome::Failed);
    EXPECT_EQ(device->frames(), Strings{"write"});
    EXPECT_EQ(host.events, Strings{"failed Устройство не подключено или занято|Запись настроек -2"});

    // Sent, but the read-back does not come: no success claimed.
    host = RecordingHost{};
    device = std::make_shared<ScriptedDevice>();
    device->results = {{"read", -2}};
    EXPECT_EQ(write(opts(false, false)), Outcome::Failed);
    EXPECT_EQ(host.events, Strings{"failed Настройки отправлены, но проверить их не удалось: устройство не ответило.|"
                                   "Настройки отправлены, но проверить их не удалось: устройство не ответило. -2"});
}

TEST_F(SettingsJobs, a_backup_that_cannot_be_saved_asks_first) {
    // A file where the backups folder should be (either platform's).
    std::ofstream(dir / "data") << "x";
    std::ofstream(dir / "local") << "x";
    host.answers = {false};
    EXPECT_EQ(write(opts(false, true)), Outcome::Declined);
    EXPECT_EQ(device->frames(), (Strings{"read", "serial"})) << "not written";
    ASSERT_EQ(host.events.size(), 2u);
    EXPECT_EQ(host.events[0].rfind("detail Резервная копия настроек не сохранена: Папка резервных копий ", 0), 0u);
    EXPECT_EQ(host.events[1].rfind("ask Внимание|Не удалось сохранить резервную копию настроек.\nПапка резервных копий ", 0), 0u);
    EXPECT_EQ(host.topics, std::vector<jobs::Topic>{jobs::Topic::NoBackup});

    host = RecordingHost{};
    EXPECT_EQ(write(opts(false, true)), Outcome::Done) << "OK goes on without it";
    EXPECT_EQ(device->count("write"), 1);
}

TEST_F(SettingsJobs, standalone_backup_fails_as_a_command_does) {
    jobs::BackupJob ok(host, jobs::BackupJob::Mode::Standalone);
    EXPECT_EQ(runOn(device, ok), Outcome::Done);
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0], "tell |" + ok.path() + "\n") << "the path is the result";
    EXPECT_TRUE(std::filesystem::exists(ok.path()));

    host = RecordingHost{};
    device->results = {{"serial", -3}};
    jobs::BackupJob failed(host, jobs::BackupJob::Mode::Standalone);
    EXPECT_EQ(runOn(device, failed), Outcome::Failed);
    EXPECT_EQ(host.events, Strings{"failed |Серийный номер -3"});
    EXPECT_TRUE(host.only("ask ").empty()) << "nothing to decide on its own";
}

TEST_F(SettingsJobs, restore_only_with_ok_and_a_missing_file_is_said) {
    std::filesystem::create_directories(dir / "b");
    std::ofstream(dir / "b/77_x.txt", std::ios::binary) << "PinCod=1234\r\nOdd=1\r\n";
    host.answers = {false};
    jobs::RestoreJob declined(host, model, dir / "b/77_x.txt");
    EXPECT_EQ(runOn(device, declined), Outcome::Declined);
    EXPECT_TRUE(device->calls.empty());

    host = RecordingHost{};
    jobs::RestoreJob restore(host, model, dir / "b/77_x.txt");
    EXPECT_EQ(runOn(device, restore), Outcome::Done);
    EXPECT_EQ(device->written, "PinCod=1234\nOdd=1\n") << "every line back, unknown keys too, with the controller's LF";
    EXPECT_EQ(device->frames(), (Strings{"write", "read"})) << "and read back";
    EXPECT_EQ(host.events.back(), "tell Сообщение|Настройки восстановлены.");

    host = RecordingHost{};
    device->calls.clear();
    jobs::RestoreJob gone(host, model, dir / "b/missing.txt");
    EXPECT_EQ(runOn(device, gone), Outcome::Failed);
    EXPECT_TRUE(device->calls.empty());
    ASSERT_EQ(host.only("failed ").size(), 1u);
    EXPECT_NE(host.only("failed ")[0].find("missing.txt"), std::string::npos);
}

TEST_F(SettingsJobs, port_search_reports_what_answered_or_that_nothing_did) {
    device->searchReport = "Порт:\tCOM3\nТип:\tQV_r2\n";
    jobs::PortSearchJob found(host);
    auto next = found.start(jobs::JobContext{device, nullptr, nullptr, [](const std::string&) { return false; }, {}, false});
    ASSERT_TRUE(next && next->search) << "shown as a search, with its Cancel";
    EXPECT_FALSE(found.resume(jobs::WorkResult{next->run(*device), {}, {}}));
    EXPECT_EQ(found.outcome(), Outcome::Done);
    EXPECT_EQ(found.foundPort(), "COM3") << "for the program to remember";
    EXPECT_EQ(host.events, Strings{"tell Устройство найдено|Порт:\tCOM3\nТип:\tQV_r2\n"});

    host = RecordingHost{};
    device->results = {{"search", 0}};
    jobs::PortSearchJob missing(host);
    EXPECT_EQ(runOn(device, missing), Outcome::Failed);
    EXPECT_EQ(host.events, Strings{"tell Внимание|Устройство не найдено"});
}

TEST_F(SettingsJobs, a_write_is_done_only_when_the_controller_keeps_it) {
    // Kept as values: "05" and "5" of a number are one value; a key missing from
    // the read-back is at its default.
    device->keeps = [](const std::string&) { return std::string("MicLevel=5\nAutoStart=99\n"); };
    EXPECT_EQ(write(opts(false, false), "MicLevel=05\nAutoStart=99\nSmsBalans=0\n"), Outcome::Failed)
        << "SmsBalans is not at its default, and was not kept";
    ASSERT_EQ(host.only("log ").size(), 1u);
    EXPECT_NE(host.only("log ")[0].find("(SmsBalans): 0 → "), std::string::npos) << host.only("log ")[0];

    host = RecordingHost{};
    device->keeps = [](const std::string& text) { return text.substr(0, text.find("Odd=")); };
    EXPECT_EQ(write(opts(false, false), "MicLevel=05\nOdd=1\n"), Outcome::Failed) << "an unknown key dropped";
    EXPECT_EQ(host.only("log "), Strings{"log Не сохранено: Odd: 1 → (нет)"});
    ASSERT_EQ(host.only("failed ").size(), 1u);
    EXPECT_EQ(host.only("failed ")[0], "failed Устройство сохранило не все настройки:\nOdd: 1 → (нет)|Устройство сохранило не все настройки 0");
    EXPECT_TRUE(host.only("tell ").empty()) << "no \"Настройки записаны.\"";

    host = RecordingHost{};
    device->keeps = [](const std::string&) { return std::string("MicLevel=8\n"); };
    host.answers = {true};
    jobs::SettingsWriteJob job(host, model, "MicLevel=12\n", opts(false, false, true));
    EXPECT_EQ(runOn(device, job), Outcome::Failed) << "a number limited by the controller";
    ASSERT_EQ(host.topics, std::vector<jobs::Topic>{jobs::Topic::TakeKept});
    ASSERT_NE(job.keptForEditor(), nullptr);
    EXPECT_EQ(*job.keptForEditor(), "MicLevel=8\n");

    host = RecordingHost{};
    host.answers = {false};
    jobs::SettingsWriteJob kept(host, model, "MicLevel=12\n", opts(false, false, true));
    EXPECT_EQ(runOn(device, kept), Outcome::Failed);
    EXPECT_EQ(kept.keptForEditor(), nullptr) << "Cancel keeps the user's values";
}

// The change list as the window's last confirmation: read once (the backup's
// read), shown against the controller, rows left out keep its values.
TEST_F(SettingsJobs, the_list_shows_the_controller_and_an_unchecked_row_keeps_its_value) {
    device->settingsText = "MicLevel=10\nAutoStart=99\nPinCod=4821\n";
    host.unchoose = {"MicLevel"};
    jobs::SettingsWriteJob::Options o;
    o.choose = true;
    jobs::SettingsWriteJob job(host, model, "MicLevel=12\nAutoStart=1\nPinCod=1111\n", o);
    EXPECT_EQ(runOn(device, job), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"read", "serial", "write", "read"})) << "one read before the write";
    ASSERT_EQ(host.lists.size(), 1u);
    const auto& rows = host.lists[0].rows;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].change.key, "PinCod");
    EXPECT_EQ(rows[0].change.oldValue, "4821") << "the controller's value, not the last load's";
    EXPECT_TRUE(rows[0].write && !rows[0].kept);
    EXPECT_EQ(device->written, "PinCod=1111\nMicLevel=10\nAutoStart=1\n") << "MicLevel left as the controller has it";
    EXPECT_EQ(job.leftOut(), 1u);
    EXPECT_EQ(host.only("ask ").size(), 1u) << "the question comes first, the list after it";
    EXPECT_EQ(host.events[0], "ask Внимание|Записать настройки в устройство?");

    // Отмена on the list sends nothing.
    host = RecordingHost{};
    host.chooseAnswer = false;
    device->calls.clear();
    jobs::SettingsWriteJob cancelled(host, model, "MicLevel=12\n", o);
    EXPECT_EQ(runOn(device, cancelled), Outcome::Declined);
    EXPECT_EQ(device->frames(), (Strings{"read", "serial"}));
}

TEST_F(SettingsJobs, a_file_of_another_controller_keeps_the_owners_values_unless_chosen) {
    device->settingsText = "PinCod=4821\nUserNumber1=+79161234567\nMicLevel=10\n";
    device->serial = 305419896;
    const std::string file = "PinCod=1111\nUserNumber1=+70000000000\nMicLevel=12\n";
    auto sent = [&](std::optional<std::uint32_t> fileSerial, bool writeOwner = false) {
        host = RecordingHost{};
        jobs::SettingsWriteJob::Options o;
        o.choose = true;
        o.fromFile = true;
        o.fileSerial = fileSerial;
        o.writeOwner = writeOwner;
        jobs::SettingsWriteJob job(host, model, file, o);
        EXPECT_EQ(runOn(device, job), Outcome::Done);
        device->settingsText = "PinCod=4821\nUserNumber1=+79161234567\nMicLevel=10\n";
        return device->written;
    };
    EXPECT_EQ(sent(std::nullopt), "PinCod=4821\nUserNumber1=+79161234567\nMicLevel=12\n") << "a file of no known controller";
    ASSERT_EQ(host.lists.size(), 1u);
    EXPECT_TRUE(host.lists[0].rows[0].kept);
    EXPECT_FALSE(host.lists[0].rows[0].write);
    EXPECT_EQ(host.only("choose "), Strings{"choose 1/3"});
    EXPECT_EQ(sent(12345u), "PinCod=4821\nUserNumber1=+79161234567\nMicLevel=12\n") << "a backup of another controller";
    EXPECT_EQ(sent(305419896u), file) << "this controller's own backup is written whole";
    EXPECT_EQ(sent(12345u, true), file) << "asked to write them";
    EXPECT_FALSE(host.lists[0].rows[0].kept);
    host.unchoose = {};
}

// The terminal's write: no list, no backup, yet the owner values of a file are
// not written over the controller's unknowingly.
TEST_F(SettingsJobs, a_file_written_without_a_backup_reads_the_controller_to_keep_the_owners_values) {
    device->settingsText = "PinCod=4821\nUserNumber2=+79161234567\nMicLevel=10\n";
    device->serial = 305419896;
    const std::string file = "PinCod=1111\nUserNumber2=+70000000000\nMicLevel=12\n";
    auto write = [&](std::optional<std::uint32_t> fileSerial, bool writeOwner = false) {
        host = RecordingHost{};
        device->calls.clear();
        device->settingsText = "PinCod=4821\nUserNumber2=+79161234567\nMicLevel=10\n";
        jobs::SettingsWriteJob::Options o = opts(false, false);
        o.fromFile = true;
        o.fileSerial = fileSerial;
        o.writeOwner = writeOwner;
        jobs::SettingsWriteJob job(host, model, file, o);
        return runOn(device, job);
    };
    EXPECT_EQ(write(std::nullopt), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"read", "write", "read"})) << "no serial to compare: kept without asking it";
    EXPECT_EQ(device->written, "PinCod=4821\nUserNumber2=+79161234567\nMicLevel=12\n");
    const Strings said = host.only("detail ");
    ASSERT_EQ(said.size(), 2u) << "each kept value is said";
    EXPECT_EQ(said[0], "detail Пин код  (PinCod): значение этого устройства сохранено");
    EXPECT_NE(said[1].find("(UserNumber2): значение этого устройства сохранено"), std::string::npos) << said[1];

    EXPECT_EQ(write(305419896u), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"read", "serial", "write", "read"}));
    EXPECT_EQ(device->written, file) << "its own backup";
    EXPECT_TRUE(host.only("detail ").empty());

    EXPECT_EQ(write(std::nullopt, true), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"write", "read"})) << "nothing to keep: nothing to read";
    EXPECT_EQ(device->written, file);

    device->results = {{"serial", -2}};
    device->written.clear();
    EXPECT_EQ(write(305419896u), Outcome::Failed);
    EXPECT_EQ(device->frames(), (Strings{"read", "serial"})) << "whose file it is is not known: nothing written";
    EXPECT_TRUE(device->written.empty());
}

TEST_F(SettingsJobs, keep_without_a_backup_reads_first_and_says_which_stayed) {
    device->settingsText = "PinCod=4821\nMicLevel=10\n";
    jobs::SettingsWriteJob::Options o = opts(false, false);
    o.keep = {"PinCod"};
    jobs::SettingsWriteJob job(host, model, "PinCod=1111\nMicLevel=12\n", o);
    EXPECT_EQ(runOn(device, job), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"read", "write", "read"}));
    EXPECT_EQ(device->written, "PinCod=4821\nMicLevel=12\n");
    EXPECT_EQ(host.only("detail "), Strings{"detail Пин код  (PinCod): значение этого устройства сохранено"});
    EXPECT_TRUE(host.only("choose ").empty()) << "nothing to show on a terminal";

    host = RecordingHost{};
    device->results = {{"read", -2}};
    device->calls.clear();
    jobs::SettingsWriteJob unread(host, model, "PinCod=1111\n", o);
    EXPECT_EQ(runOn(device, unread), Outcome::Failed);
    EXPECT_EQ(device->frames(), Strings{"read"}) << "what is to be kept is not known: nothing written";
}
