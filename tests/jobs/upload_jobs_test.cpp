// The firmware and sound jobs without a window: a scripted controller and a
// host that records every question, box and log line in order.
#include "BackupStore.h"
#include "Embedded.h"
#include "FirmwareJob.h"
#include "RecordingHost.h"
#include "ScriptedDevice.h"
#include "SoundJob.h"
#include "TempDir.h"
#include "ExchangeTrace.h"
#include "Runner.h"
#include "UploadSlot.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include "Pty.h"
#include <sys/file.h>
#endif

namespace {

using jobs::Outcome;
using jobs::Pace;
using Strings = std::vector<std::string>;

const char kStart[] = "ask Внимание|После обновления возможно произойдет сброс настроек.\nРекомендуется сохранить текущие "
                      "настройки. (Кнопка \"Сохранить в файл\").\nНачать обновление ?";
const char kRestart[] = "ask Внимание|Новая версия програмы загружена.\nДля применения нужна перезагрузка.\nПерегрузить прибор сейчас ?";
const char kSoundStart[] = "ask Внимание|Произвести загрузку звуковых данных?\nСтарые данные будут удалены безвозвратно!";

struct UploadJobs : ::testing::Test, IsolatedSetup {
    RecordingHost host;
    std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
    FirmwareImage image;
    SoundBank bank;
    ParameterList model{embeddedText("PARAMETER_LIST")};
    std::vector<Pace> paces;
    jobs::UploadSlot slot;
    ExchangeTrace trace;
    jobs::Carried carriedImage, carriedBank;

    UploadJobs() {
        const EmbeddedResource blow = embeddedResource("blow");
        image.load(blow.data, blow.size);
        carriedImage = {blow.data, blow.size};
        const EmbeddedResource wave = embeddedResource("wave_list");
        bank.load(wave.data, wave.size);
        carriedBank = {wave.data, wave.size};
    }
    static jobs::FirmwareJob::Options options(bool backup, bool offerRestore) {
        jobs::FirmwareJob::Options o;
        o.backup = backup;
        o.offerRestore = offerRestore;
        return o;
    }
    std::unique_ptr<jobs::FirmwareJob> firmware(jobs::FirmwareJob::Options o = {}) {
        return std::make_unique<jobs::FirmwareJob>(host, carriedImage, model, o);
    }
    // What a runner lends its jobs, on the current device.
    jobs::JobContext context() {
        return jobs::JobContext{device, &slot, &trace, [](const std::string&) { return false; }, {}, false};
    }
    // The work asked for, done at once on the device.
    jobs::WorkResult done(const std::optional<jobs::Work>& next) {
        return jobs::WorkResult{next->run ? next->run(*device) : 0, device->TakePortNotices(), {}};
    }
    // Runs to the end as z58ctl does, noting how each step was paced.
    Outcome run(jobs::Job& job) {
        for (auto next = job.start(context()); next; next = job.resume(done(next)))
            paces.push_back(next->pace);
        return job.outcome();
    }
    Strings boxes() const {
        Strings out;
        for (const auto& e : host.events)
            if (e.rfind("log ", 0) != 0 && e.rfind("detail ", 0) != 0)
                out.push_back(e);
        return out;
    }
};

} // namespace

TEST_F(UploadJobs, firmware_backs_up_uploads_commits_restarts_and_restores) {
    auto job = firmware();
    EXPECT_EQ(run(*job), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"version", "read", "serial", "begin-firmware", "blocks 102", "commit", "restart", "version", "write", "read"}))
        << "the saved settings are offered once the controller answers again";
    EXPECT_EQ(device->committedCount, 104130u);
    EXPECT_EQ(device->committedCrc, image.imageCrc);
    EXPECT_EQ(device->blocks.back().first, 103424u);
    EXPECT_EQ(device->blocks.back().second.size(), 714u);
    EXPECT_EQ(device->written, "MicLevel=10\n") << "the backup goes back as it was read";
    const Strings logs = host.only("log ");
    ASSERT_EQ(logs.size(), 5u);
    EXPECT_EQ(logs[0].rfind("log Резервная копия настроек: " + backupFolder(), 0), 0u) << logs[0];
    EXPECT_NE(logs[0].find("77_"), std::string::npos) << "named by the controller's serial number";
    EXPECT_EQ(Strings(logs.begin() + 1, logs.begin() + 4),
              (Strings{"log Подготовка к обновлению, ждите ...", "log Загрузка новой версии программы ...", "log Загрузка закончена."}));
    EXPECT_EQ(logs[4].rfind("log Настройки восстановлены из ", 0), 0u);
    const Strings b = boxes();
    ASSERT_EQ(b.size(), 5u);
    EXPECT_EQ(b[0], kStart);
    EXPECT_EQ(b[1], kRestart);
    EXPECT_EQ(b[2], "tell Перезагрузка ...|Дождитесь звукового сигнала подключения устройства и нажмите OK");
    EXPECT_EQ(b[3].rfind("ask Восстановление настроек|После обновления настройки могли сброситься.\n", 0), 0u);
    EXPECT_EQ(b[4], "tell Сообщение|Настройки восстановлены.");
    // One block per firmware tick, the commit one tick after the last block.
    ASSERT_GE(paces.size(), 106u);
    EXPECT_EQ(paces[3], Pace::Now) << "begin";
    for (size_t i = 4; i < 4 + 102; ++i)
        ASSERT_EQ(paces[i], Pace::FirmwareTick) << i;
    EXPECT_EQ(paces[4 + 102], Pace::FirmwareTick) << "the finishing tick";
    EXPECT_EQ(paces[4 + 103], Pace::Now) << "commit";
    EXPECT_EQ(host.progress_.back().value, 102);
    EXPECT_EQ(slot.busy(), jobs::UploadKind::None);
}

TEST_F(UploadJobs, firmware_declined_questions_send_nothing_further) {
    host.answers = {false};
    EXPECT_EQ(run(*firmware()), Outcome::Declined);
    EXPECT_TRUE(device->calls.empty());

    for (const char* version : {"001.083", "001.100"}) {
        device = std::make_shared<ScriptedDevice>();
        device->versionText = std::string("QV_r2\n") + version + "\nNov 11 2019";
        host = RecordingHost{};
        host.answers = {true, false};
        EXPECT_EQ(run(*firmware()), Outcome::Declined) << version;
        EXPECT_EQ(device->frames(), Strings{"version"});
        EXPECT_EQ(host.events.back(), "ask Внимание|Устройство уже содержит новейшую или равную версию.\n" + std::string(25, ' ') +
                                          "Обновлять или нет?");
        EXPECT_EQ(slot.busy(), jobs::UploadKind::None) << "a declined job lets the slot go";
    }

    device = std::make_shared<ScriptedDevice>();
    device->versionText = "QV_r2\n000.999\nx";
    host = RecordingHost{};
    host.answers = {true, false}; // the restart declined: no version question before it
    EXPECT_EQ(run(*firmware()), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"version", "read", "serial", "begin-firmware", "blocks 102", "commit"}));
    EXPECT_EQ(host.only("log ").back(), "log Загрузка закончена.");
}

TEST_F(UploadJobs, firmware_failures_each_say_so_once_and_stop) {
    struct Case {
        const char* name;
        std::map<std::string, int> results;
        int failBlock;
        Strings frames;
        std::string failure;
        bool cancelledLine;
    };
    const Case cases[] = {
        {"version", {{"version", -1}}, 0, {"version"}, "failed Устройство не подключено или занято|Устройство не подключено или занято -1", false},
        {"begin", {{"begin-firmware", -2}}, 0, {"version", "read", "serial", "begin-firmware"},
         "failed Устройство не подключено или занято|Обновление отменено -2", true},
        {"block", {}, 11, {"version", "read", "serial", "begin-firmware", "blocks 11"},
         "failed Ошибка при передачи данных|Обновление отменено -2", true},
        {"crc", {{"commit", -3}}, 0, {"version", "read", "serial", "begin-firmware", "blocks 102", "commit"},
         "failed Нет подтвеждения CRC|Обновление отменено -3", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device = std::make_shared<ScriptedDevice>();
        device->results = c.results;
        device->failBlockAt = c.failBlock;
        host = RecordingHost{};
        EXPECT_EQ(run(*firmware()), Outcome::Failed);
        EXPECT_EQ(device->frames(), c.frames);
        EXPECT_EQ(host.only("failed "), Strings{c.failure});
        EXPECT_EQ(host.only("ask ").size(), 1u) << "no restart offered";
        EXPECT_EQ(slot.busy(), jobs::UploadKind::None);
    }
}

TEST_F(UploadJobs, firmware_without_a_backup_asks_and_no_sends_nothing) {
    device->results = {{"serial", -2}};
    host.answers = {true, false};
    EXPECT_EQ(run(*firmware()), Outcome::Declined);
    EXPECT_EQ(device->frames(), (Strings{"version", "read", "serial"}));
    EXPECT_EQ(host.events.back(), "ask Внимание|Не удалось сохранить резервную копию настроек.\nУстройство не ответило: " +
                                      std::string(result::describe(-2)) + "\nПродолжить без неё?");

    device = std::make_shared<ScriptedDevice>();
    device->results = {{"read", -2}};
    host = RecordingHost{};
    EXPECT_EQ(run(*firmware()), Outcome::Done) << "OK goes on without it";
    EXPECT_EQ(device->frames(), (Strings{"version", "read", "begin-firmware", "blocks 102", "commit", "restart"}))
        << "and nothing is offered back";
}

TEST_F(UploadJobs, terminal_options_leave_out_the_backup_or_name_the_restore_command) {
    EXPECT_EQ(run(*firmware(options(false, false))), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"version", "begin-firmware", "blocks 102", "commit", "restart"}));

    device = std::make_shared<ScriptedDevice>();
    host = RecordingHost{};
    EXPECT_EQ(run(*firmware(options(true, false))), Outcome::Done);
    EXPECT_EQ(device->count("write"), 0);
    EXPECT_EQ(host.only("detail ").back().rfind("detail Вернуть прежние настройки после перезагрузки: z58ctl write-settings \"", 0), 0u);
    EXPECT_EQ(host.only("detail ").front(), "detail Версия в устройстве: 001.050, загружаемая: 001.083");
}

TEST_F(UploadJobs, sound_uploads_the_bank_as_stored_and_says_only_success) {
    jobs::SoundJob job(host, carriedBank);
    EXPECT_EQ(run(job), Outcome::Done);
    EXPECT_EQ(device->frames(), (Strings{"begin-sound", "blocks 596", "commit"}));
    EXPECT_EQ(device->blocks.back().first, 609280u);
    EXPECT_EQ(device->blocks.back().second.size(), 103u);
    EXPECT_EQ(device->committedCount, 609375u);
    EXPECT_EQ(device->committedCrc, bank.dataCrc);
    EXPECT_EQ(host.only("log "), (Strings{"log Подготовка к записи, ждите...", "log Идет запись звуковых данных..."}));
    EXPECT_EQ(boxes(), (Strings{kSoundStart, "tell Сообщение|Данные успешно записаны."}));
    EXPECT_EQ(paces[1], Pace::SoundTick);
    EXPECT_EQ(host.progress_.back().value, 596);
    EXPECT_EQ(host.progress_[1].maximum, 596) << "the range set once the controller is ready";
}

TEST_F(UploadJobs, sound_failures) {
    device->results = {{"begin-sound", -2}};
    jobs::SoundJob first(host, carriedBank);
    EXPECT_EQ(run(first), Outcome::Failed);
    EXPECT_EQ(host.only("failed "), Strings{"failed Устройство не подключено или занято.\nОбновление отменено.|"
                                            "Устройство не подключено или занято. Обновление отменено -2"});
    EXPECT_EQ(device->frames(), Strings{"begin-sound"});

    device = std::make_shared<ScriptedDevice>();
    device->failBlockAt = 4;
    host = RecordingHost{};
    jobs::SoundJob second(host, carriedBank);
    EXPECT_EQ(run(second), Outcome::Failed);
    EXPECT_EQ(device->frames(), (Strings{"begin-sound", "blocks 4"}));
    EXPECT_EQ(host.only("failed "), Strings{"failed Ошибка при передачи данных|Обновление отменено -2"});

    device = std::make_shared<ScriptedDevice>();
    device->results = {{"commit", -3}};
    host = RecordingHost{};
    jobs::SoundJob third(host, carriedBank);
    EXPECT_EQ(run(third), Outcome::Failed);
    EXPECT_EQ(host.only("failed "), Strings{"failed Нет подтвеждения CRC|Обновление отменено -3"});
    EXPECT_EQ(host.only("tell ").size(), 0u) << "no success claimed";
}

TEST_F(UploadJobs, one_upload_at_a_time_in_both_directions) {
    // A sound upload between its begin and its commit: the firmware cannot begin.
    jobs::SoundJob sound(host, carriedBank);
    auto next = sound.start(context());
    next = sound.resume(done(next)); // begun, the first block asked for
    ASSERT_TRUE(next);
    RecordingHost other;
    jobs::FirmwareJob fw(other, carriedImage, model, {});
    EXPECT_FALSE(fw.start(context()));
    EXPECT_EQ(fw.outcome(), Outcome::Failed);
    EXPECT_EQ(device->count("begin-firmware"), 0);
    EXPECT_EQ(device->count("version"), 0) << "refused before anything is asked of the controller";
    // The sound upload goes on to its confirmed end.
    while (next)
        next = sound.resume(done(next));
    EXPECT_EQ(sound.outcome(), Outcome::Done);

    // And the other way round.
    device = std::make_shared<ScriptedDevice>();
    jobs::FirmwareJob firmwareFirst(host, carriedImage, model, {});
    next = firmwareFirst.start(context());
    for (int i = 0; i < 6 && next; ++i) // version, backup, begin, two blocks
        next = firmwareFirst.resume(done(next));
    jobs::SoundJob late(other, carriedBank);
    EXPECT_FALSE(late.start(context()));
    EXPECT_EQ(late.outcome(), Outcome::Failed);
    EXPECT_EQ(device->count("begin-sound"), 0);
    while (next)
        next = firmwareFirst.resume(done(next));
    EXPECT_EQ(firmwareFirst.outcome(), Outcome::Done);
    EXPECT_EQ(device->count("commit"), 1) << "the firmware upload is still confirmed";
    EXPECT_EQ(slot.busy(), jobs::UploadKind::None);
}

TEST_F(UploadJobs, a_port_that_cannot_be_configured_is_told_before_the_failure) {
    device->results = {{"version", -1}};
    device->notices = {{"Статус порта не досупен", "Error"}};
    EXPECT_EQ(run(*firmware()), Outcome::Failed);
    EXPECT_EQ(boxes(), (Strings{kStart, "tell Error|Статус порта не досупен",
                                "failed Устройство не подключено или занято|Устройство не подключено или занято -1"}));
}

TEST_F(UploadJobs, another_device_type_is_asked_first_and_no_sends_nothing_more) {
    device->versionText = "Z99_r1\n001.050\nNov 11 2019";
    host.answers = {true, false};
    EXPECT_EQ(run(*firmware()), Outcome::Declined);
    EXPECT_EQ(device->frames(), Strings{"version"});
    EXPECT_EQ(host.topics.back(), jobs::Topic::OtherDeviceType);
    EXPECT_EQ(host.events.back(), "ask Внимание|Тип устройства «Z99_r1» не совпадает с типом прошивки «QV_r2».\n"
                                  "Загрузка чужой прошивки может вывести устройство из строя.\nПродолжить?");
    EXPECT_EQ(slot.busy(), jobs::UploadKind::None);

    device = std::make_shared<ScriptedDevice>();
    device->versionText = "Z99_r1\n001.050\nNov 11 2019";
    host = RecordingHost{};
    EXPECT_EQ(run(*firmware()), Outcome::Done) << "Yes goes on";
    EXPECT_EQ(device->count("begin-firmware"), 1);

    device = std::make_shared<ScriptedDevice>();
    host = RecordingHost{};
    EXPECT_EQ(run(*firmware()), Outcome::Done);
    for (jobs::Topic t : host.topics)
        EXPECT_NE(t, jobs::Topic::OtherDeviceType) << "the matching type asks nothing new";
}
