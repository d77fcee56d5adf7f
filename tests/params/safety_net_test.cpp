// The settings safety net's core: the change list between two settings texts,
// the backup store's names and listing, and the printable settings sheet.
#include "BackupStore.h"
#include "Cp1251.h"
#include "Embedded.h"
#include "ParameterList.h"
#include "SettingsDiff.h"
#include "SettingsSheet.h"
#include "TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

ParameterList model() {
    ParameterList l(embeddedText("PARAMETER_LIST"));
    l.ResetToDefaults();
    return l;
}

std::string u8(const std::string& cp1251Text) { return cp1251::toUtf8(cp1251Text); }

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(settings_diff, rows_for_an_enum_a_typed_number_a_default_and_an_unknown_key) {
    const ParameterList l = model();
    const auto rows = diffSettings(l, "AutoStart=99\nMicLevel=10\nOldKey=1\nSame=2\n",
                                   "AutoStart=0\r\nMicLevel=$A\r\nSame=2\r\nNewKey=x\r\n");
    ASSERT_EQ(rows.size(), 4u);
    // Description order first: MicLevel's group comes before AutoStart's.
    EXPECT_EQ(rows[0].key, "MicLevel");
    EXPECT_EQ(rows[0].oldValue, "10");
    EXPECT_EQ(rows[0].newValue, "$A") << "kept as typed, not rewritten as 10";
    EXPECT_EQ(u8(rows[0].group), "Настройки связи");
    EXPECT_EQ(u8(rows[0].name), "Чувствительность микрофона");
    EXPECT_EQ(rows[1].key, "AutoStart");
    EXPECT_EQ(u8(valueWithItem(l, rows[1].key, rows[1].oldValue)), "99 (Запуск по команде)");
    EXPECT_EQ(u8(valueWithItem(l, rows[1].key, rows[1].newValue)), "0 (Автозапуск отключен)");
    EXPECT_EQ(rows[2].key, "NewKey");
    EXPECT_TRUE(rows[2].group.empty());
    EXPECT_FALSE(rows[2].oldPresent);
    EXPECT_EQ(rows[3].key, "OldKey");
    EXPECT_FALSE(rows[3].newPresent);
}

TEST(settings_diff, a_value_back_to_its_default_differs_and_an_equal_text_does_not) {
    const ParameterList l = model();
    const auto back = diffSettings(l, "MicLevel=10\n", "");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].oldValue, "10");
    EXPECT_EQ(back[0].newValue, "8") << "the default";
    EXPECT_TRUE(diffSettings(l, "MicLevel=8\n", "").empty()) << "written or not, 8 is the default";
    EXPECT_TRUE(diffSettings(l, "MicLevel=5\nMicLevel=6\n", "MicLevel=6\n").empty()) << "later lines win";
    EXPECT_EQ(diffSettings(l, "MicLevel=08\n", "MicLevel=8\n").size(), 1u) << "an exact text comparison";
}

TEST(settings_diff, text_form_names_each_change_and_the_count) {
    const ParameterList l = model();
    const std::string text = u8(changesText(l, diffSettings(l, "Balans=*100#\n", "Balans=\nZ=1\n")));
    EXPECT_EQ(text, "Настройки связи / Запрос баланса (Balans): *100# -> (пусто)\n"
                    "(нет в описании) / Z: (нет) -> 1\n"
                    "Изменений: 2\n");
}

TEST(backup_store, names_by_serial_and_local_time_and_lists_newest_first) {
    TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", dir / "data");
    ScopedEnv local("LOCALAPPDATA", dir / "local");
    std::tm t{};
    t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 8, t.tm_hour = 9, t.tm_min = 5, t.tm_sec = 7, t.tm_isdst = -1;
    const std::time_t when = std::mktime(&t);
    EXPECT_EQ(backupFileName(4294967295u, when), "4294967295_2026-12-08_09-05-07.txt");

    EXPECT_TRUE(listBackups().empty()) << "no folder yet";
    const std::string first = saveBackup(77, "AutoStart=99\nX=1\n", when);
    const std::string second = saveBackup(77, "MicLevel=10\n", when);
    const std::string later = saveBackup(12, "", when + 60);
    EXPECT_EQ(std::filesystem::path(first).filename(), "77_2026-12-08_09-05-07.txt");
    EXPECT_EQ(std::filesystem::path(second).filename(), "77_2026-12-08_09-05-07-2.txt") << "never overwrites";
    EXPECT_EQ(std::filesystem::path(first).parent_path(), std::filesystem::path(backupFolder()));
    EXPECT_EQ(readAll(first), "AutoStart=99\r\nX=1\r\n") << "every line the controller sent, unknown keys too";
    EXPECT_EQ(readAll(later), "") << "all defaults: an empty file";
    EXPECT_EQ(backupSettingsText(first), "AutoStart=99\nX=1\n");

    std::ofstream(std::filesystem::path(backupFolder()) / "notes.txt") << "x";
    std::ofstream(std::filesystem::path(backupFolder()) / "77_2026-13-99.txt") << "x";
    const auto list = listBackups();
    ASSERT_EQ(list.size(), 3u) << "foreign files are left out";
    EXPECT_EQ(list[0].serial, 12u);
    EXPECT_EQ(list[0].time, "2026-12-08 09:06:07");
    EXPECT_EQ(list[1].path, second);
    EXPECT_EQ(list[2].path, first);
}

#ifndef _WIN32
TEST(backup_store, default_folder_follows_xdg_data_home) {
    TempDir dir;
    {
        ScopedEnv data("XDG_DATA_HOME", dir / "d");
        EXPECT_EQ(backupFolder(), dir / "d" + "/z58/backups");
    }
    ScopedEnv home("HOME", dir.str());
    unsetEnv("XDG_DATA_HOME");
    EXPECT_EQ(backupFolder(), dir.str() + "/.local/share/z58/backups");
}

TEST(backup_store, a_folder_that_cannot_be_made_is_a_clear_error) {
    TempDir dir;
    std::ofstream(dir / "file") << "x";
    ScopedEnv data("XDG_DATA_HOME", dir / "file");
    EXPECT_THROW(saveBackup(1, "A=1\n"), std::runtime_error);
}
#endif

TEST(settings_sheet, every_group_and_parameter_with_values_defaults_and_sms_lines) {
    ParameterList l = model();
    l.LoadSettingsText("AutoStart=99\nPinCod=1234\nBalans=<b>&\"\n");
    const std::string page = settingsSheetHtml(l, "Файл a<b>.txt");
    for (const ParameterGroup& g : l.groups())
        EXPECT_NE(page.find("<h2>" + u8(g.name) + "</h2>"), std::string::npos) << u8(g.name);
    size_t rows = 0;
    for (size_t at = page.find("<tr><td>"); at != std::string::npos; at = page.find("<tr><td>", at + 1))
        ++rows;
    for (size_t at = page.find("<tr class=\"changed\">"); at != std::string::npos; at = page.find("<tr class=\"changed\">", at + 1))
        ++rows;
    EXPECT_EQ(rows, l.parameters().size());
    EXPECT_NE(page.find("<tr class=\"changed\"><td>Тип атозапуска</td><td class=\"value\">99 (Запуск по команде)</td>"
                        "<td>0 (Автозапуск отключен)</td><td class=\"sms\">Set1234,AutoStart=99</td></tr>"),
              std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;&amp;&quot;"), std::string::npos) << "values are escaped";
    EXPECT_EQ(page.find("<b>&"), std::string::npos);
    EXPECT_NE(page.find("<p>Файл a&lt;b&gt;.txt</p>"), std::string::npos);
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
}

TEST(settings_sheet, the_page_header_comes_first_escaped_and_is_left_out_when_empty) {
    ParameterList l = model();
    const std::string page = settingsSheetHtml(l, "Файл a.txt", "Серийный номер 7, <b>&\x1b");
    const size_t header = page.find("<thead><tr><td><div class=\"page-header\">Серийный номер 7, &lt;b&gt;&amp;&#xfffd;</div>");
    ASSERT_NE(header, std::string::npos) << "in the head of the page's table, which repeats on each printed page";
    EXPECT_LT(header, page.find("<h1>"));
    EXPECT_EQ(page.find("<b>&"), std::string::npos);

    const std::string plain = settingsSheetHtml(l, "Файл a.txt");
    EXPECT_EQ(plain, settingsSheetHtml(l, "Файл a.txt", ""));
    EXPECT_EQ(plain.find("class=\"page-header\""), std::string::npos);
    EXPECT_EQ(plain.find("<table class=\"frame\">"), std::string::npos);
}
