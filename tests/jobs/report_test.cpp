// The support report: what it gathers from the controller and the machine, and
// that the owner's PIN and phone numbers never reach the page whole.
#include "Embedded.h"
#include "OwnerValues.h"
#include "RecordingHost.h"
#include "Runner.h"
#include "ReportJob.h"
#include "ScriptedDevice.h"
#include "TempDir.h"
#include "WaitFor.h"

#include <gtest/gtest.h>

namespace {

using Strings = std::vector<std::string>;

const char kOwnerSettings[] = "PinCod=4821\nUserNumber1=+79161234567\nUserNumber2=89035550142\nMicLevel=10\n"
                              "Balans=*100#\n";

struct ReportTest : ::testing::Test, IsolatedSetup {
    RecordingHost host;
    std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
    ParameterList model{embeddedText("PARAMETER_LIST")};
    std::string path = dir / "отчёт.html";

    std::string run(std::optional<Strings> log = std::nullopt) {
        jobs::Runner runner;
        runner.setDevice(device);
        auto job = std::make_shared<jobs::ReportJob>(host, model, path,
                                                     jobs::ReportJob::Context{"Z58 Service Tool", "Qt 6.4.2", std::move(log)});
        EXPECT_EQ(runner.run(job), jobs::Outcome::Done);
        return check(*job);
    }
    std::string check(const jobs::ReportJob& job) {
        EXPECT_EQ(readWhole(path), job.html());
        return job.html();
    }
};

// Nothing of the secrets but the last two digits of each phone number.
void expectNoSecrets(const std::string& page) {
    for (const char* secret : {"4821", "9161234567", "1234567", "3555014", "89035550142", "5550142"})
        EXPECT_EQ(page.find(secret), std::string::npos) << secret;
}

} // namespace

TEST(owner_values, pin_hidden_whole_and_phones_keep_their_last_two_digits_at_most) {
    EXPECT_EQ(maskOwnerValue("PinCod", "4821"), "••••");
    EXPECT_EQ(maskOwnerValue("UserNumber1", "+79161234567"), "••••67");
    EXPECT_EQ(maskOwnerValue("UserNumber4", "12345"), "••••") << "too short to be a phone: nothing kept";
    EXPECT_EQ(maskOwnerValue("UserNumber2", ""), "");
    EXPECT_TRUE(isOwnerKey("UserNumber3"));
    EXPECT_FALSE(isOwnerKey("Balans"));
}

TEST(owner_values, text_is_masked_by_value_anywhere_and_by_digits_on_lines_naming_an_owner_key) {
    ParameterList model{embeddedText("PARAMETER_LIST")};
    const OwnerMask mask(model, {kOwnerSettings});
    EXPECT_EQ(mask.apply("Отправлено SMS на +79161234567 с кодом 4821"), "Отправлено SMS на ••••67 с кодом ••••");
    EXPECT_EQ(mask.apply("Пин код  (PinCod): 9999 → 0000"), "Пин код  (PinCod): •••• → ••••")
        << "a value the mask never saw, on a line that names the key";
    EXPECT_EQ(mask.apply("Пользователь 3 (UserNumber3): 89261112233 → (нет)"),
              "Пользователь 3 (UserNumber3): ••••33 → (нет)");
    EXPECT_EQ(mask.apply("Серийный номер устройства 305419896\nВерсия прошивки : 001.050"),
              "Серийный номер устройства 305419896\nВерсия прошивки : 001.050")
        << "other numbers stay as they are";
}

TEST_F(ReportTest, gathers_the_controller_settings_ports_log_and_trace_and_masks_the_owner) {
    device->settingsText = kOwnerSettings;
    const std::string page = run(Strings{"Серийный номер устройства 77", "Пин код  (PinCod): 4821 → 1111",
                                         "звонок на 89035550142", "<script>alert(1)</script> & \x01"});
    EXPECT_EQ(device->frames(), (Strings{"version", "serial", "diagnostics", "read"}));
    for (const char* part : {"никуда не отправлен", "QV_r2", "001.050", "Nov 11 2019", "<td>77</td>",
                             "A0 A1 A2 A3", "B7", "Qt 6.4.2", "Где хранится", "Проверки порта", "MicLevel",
                             "<td>••••</td>", "<td>••••67</td>", "<td>••••42</td>", "*100#"})
        EXPECT_NE(page.find(part), std::string::npos) << part;
    expectNoSecrets(page);
    EXPECT_NE(page.find("Пин код  (PinCod): •••• → ••••"), std::string::npos);
    EXPECT_NE(page.find("звонок на ••••42"), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos) << "the log is escaped";
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; \xEF\xBF\xBD"), std::string::npos);
    EXPECT_EQ(host.only("log "), Strings{"log Отчёт для поддержки сохранён: " + path});
}

TEST_F(ReportTest, a_controller_that_does_not_answer_is_said_so_and_the_rest_still_comes) {
    device->results = {{"version", -2}};
    const std::string page = run();
    EXPECT_EQ(device->frames(), Strings{"version"}) << "no further questions wait out their limits";
    EXPECT_NE(page.find("Контроллер не ответил: "), std::string::npos);
    EXPECT_NE(page.find("(-2)"), std::string::npos);
    EXPECT_NE(page.find("Проверки порта"), std::string::npos);
    EXPECT_NE(page.find("отчёт составлен без окна программы"), std::string::npos);

    device = std::make_shared<ScriptedDevice>();
    device->results = {{"read", -2}, {"diagnostics", -3}};
    const std::string partial = run();
    EXPECT_NE(partial.find("Диагностика: "), std::string::npos);
    EXPECT_NE(partial.find("Настройки: "), std::string::npos);
    EXPECT_NE(partial.find("Настройки не прочитаны."), std::string::npos);
}

TEST(support_report, the_trace_has_types_sizes_and_results_but_never_a_payload) {
    ExchangeTrace trace;
    trace.add({1700000000123, "COM7", 200, 201, 1, 8, 63, 12});
    trace.add({1700000000200, "COM7", 14, -1, -2, 8, 0, 4000});
    jobs::ReportFacts facts;
    facts.trace = trace.entries();
    facts.traceTotal = 2;
    const std::string page = jobs::supportReportHtml(facts, ParameterList{embeddedText("PARAMETER_LIST")});
    EXPECT_NE(page.find("<td>ReqSettings</td><td>Settings</td><td>1 "), std::string::npos);
    EXPECT_NE(page.find("<td>ReqVersion</td><td>(нет)</td><td>-2 "), std::string::npos);
    EXPECT_NE(page.find("<td>63</td><td>12</td>"), std::string::npos);
    EXPECT_NE(page.find(".123</td>"), std::string::npos) << "milliseconds in the time";
}

TEST_F(ReportTest, a_folder_that_refuses_the_file_is_a_clear_failure) {
    device->settingsText = kOwnerSettings;
    jobs::Runner runner;
    runner.setDevice(device);
    EXPECT_EQ(runner.run(std::make_shared<jobs::ReportJob>(host, model, dir / "нет такой папки/r.html",
                                                           jobs::ReportJob::Context{"z58ctl", {}, std::nullopt})),
              jobs::Outcome::Failed);
    const Strings failed = host.only("failed ");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].rfind("failed Отчёт не сохранён: ", 0), 0u) << failed[0];
}

TEST(exchange_trace, keeps_the_last_500_oldest_first) {
    ExchangeTrace trace;
    for (int i = 0; i < 505; ++i)
        trace.add({i, "COM5", 14, 150, 1, 8, 30, static_cast<std::uint32_t>(i)});
    const auto entries = trace.entries();
    ASSERT_EQ(entries.size(), 500u);
    EXPECT_EQ(entries.front().startedMs, 5);
    EXPECT_EQ(entries.back().startedMs, 504);
    EXPECT_EQ(trace.total(), 505u);
}
