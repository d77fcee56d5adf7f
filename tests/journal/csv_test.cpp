// Records as CSV: the header, quoting as RFC 4180 has it, the change list in
// one field, the Excel form for a Russian locale, and an export written as the
// records come.
#include "JournalTesting.h"
#include "RecordCsv.h"
#include "TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace journal;
using namespace journal_testing;

namespace {

JobRecord sample() {
    JobRecord r;
    r.id = "0f8fad5b-d9cb-469f-a165-70867728950e";
    r.started = "2026-12-09T10:15:30.123+03:00";
    r.ended = "2026-12-09T10:16:01.004+03:00";
    r.pc = "workshop-3";
    r.user = "ivan";
    r.program = "z58config";
    r.version = "1.1.0";
    r.port = "COM3";
    r.serial = 4294967295u;
    r.deviceType = "QV_r2";
    r.firmwareBefore = "2.17";
    r.kind = JobKind::SettingsWrite;
    r.outcome = JobOutcome::Done;
    r.changes = {{"MicLevel", "10", "8", false, false, ""}, {"PinCod", "••••", "••••", true, false, ""}};
    return r;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    for (size_t end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        out.push_back(text.substr(pos, end - pos));
    EXPECT_EQ(pos, text.size()) << "every line ends CR LF";
    return out;
}

} // namespace

TEST(csv, header_and_a_row_as_rfc_4180_without_a_bom) {
    const std::string text = recordsCsv({sample()}, CsvStyle::Rfc4180);
    const auto l = lines(text);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0], "id,started,ended,pc,user,program,port,serial,type,firmware_before,firmware_after,kind,outcome,code,"
                    "reason,changes");
    EXPECT_EQ(l[1], "0f8fad5b-d9cb-469f-a165-70867728950e,2026-12-09T10:15:30.123+03:00,2026-12-09T10:16:01.004+03:00,"
                    "workshop-3,ivan,z58config 1.1.0,COM3,4294967295,QV_r2,2.17,,settings-write,done,,,"
                    "MicLevel:10>8|PinCod:••••>••••:kept");
    EXPECT_NE(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
}

TEST(csv, fields_with_separators_quotes_and_line_breaks_are_quoted) {
    JobRecord r = sample();
    r.serial.reset();
    r.outcome = JobOutcome::Failed;
    r.code = -2;
    r.reason = "Ошибка \"чтения\", порт занят\r\nповторите";
    r.pc = "a;b";
    r.changes = {{"Balans", "*100#", "a|b:c>d=e\\", false, true, "x,y"}};
    const auto l = lines(recordsCsv({r}, CsvStyle::Rfc4180));
    ASSERT_EQ(l.size(), 3u) << "the line break inside the quoted field";
    EXPECT_NE(l[1].find(",a;b,"), std::string::npos) << "';' needs no quotes in the comma form";
    EXPECT_NE(l[1].find(",COM3,,QV_r2,"), std::string::npos) << "no serial: an empty field";
    EXPECT_NE(l[1].find(",failed,-2,\"Ошибка \"\"чтения\"\", порт занят"), std::string::npos) << l[1];
    EXPECT_EQ(l[2], "повторите\",\"Balans:*100#>a\\|b\\:c\\>d\\=e\\\\:not-kept=x,y\"");
}

TEST(csv, every_kind_and_outcome_by_its_name) {
    for (JobKind k : kAllKinds) {
        for (JobOutcome o : kAllOutcomes) {
            JobRecord r = sample();
            r.kind = k;
            r.outcome = o;
            const auto l = lines(recordsCsv({r}, CsvStyle::Rfc4180));
            EXPECT_NE(l[1].find(std::string(",") + kindName(k) + "," + outcomeName(o) + ","), std::string::npos) << l[1];
        }
    }
}

TEST(csv, excel_form_has_the_bom_semicolons_and_no_formulas) {
    JobRecord r = sample();
    r.reason = "=HYPERLINK(\"http://x\")";
    r.deviceType = "+QV";
    r.code = -2;
    const std::string text = recordsCsv({r}, CsvStyle::ExcelRussian);
    ASSERT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
    const auto l = lines(text.substr(3));
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0], "id;started;ended;pc;user;program;port;serial;type;firmware_before;firmware_after;kind;outcome;code;"
                    "reason;changes");
    EXPECT_NE(l[1].find(";\"'+QV\";"), std::string::npos) << l[1];
    EXPECT_NE(l[1].find(";-2;\"'=HYPERLINK(\"\"http://x\"\")\";"), std::string::npos) << "a code stays a number: " << l[1];
    EXPECT_NE(l[1].find(";MicLevel:10>8|PinCod:••••>••••:kept"), std::string::npos);

    r.pc = "a;b";
    EXPECT_NE(recordsCsv({r}, CsvStyle::ExcelRussian).find(";\"a;b\";"), std::string::npos);
    // The same data either way: only the separator and the marks differ.
    const auto plain = lines(recordsCsv({sample()}, CsvStyle::Rfc4180));
    auto excel = lines(recordsCsv({sample()}, CsvStyle::ExcelRussian).substr(3));
    for (char& c : excel[1])
        if (c == ';')
            c = ',';
    EXPECT_EQ(excel[1], plain[1]);
}

// The export written as the records come, in pieces: the same bytes as the
// whole text at once, across the pieces' borders; a source that fails part
// way leaves the old file as it was and nothing beside it.
TEST(csv, an_export_written_as_it_comes_is_the_whole_text_and_a_failed_one_keeps_the_old_file) {
    TempDir dir;
    std::vector<JobRecord> records;
    for (int i = 0; i < 2000; ++i) {
        records.push_back(sample());
        records.back().id = newRecord(JobKind::Backup, bench(), "COM3").id;
        records.back().reason = "причина № " + std::to_string(i);
    }
    const auto from = [&](std::size_t failAfter) {
        return [&records, failAfter](const std::function<bool(const JobRecord&)>& each, std::string& problem) {
            for (std::size_t i = 0; i < records.size(); ++i) {
                if (i == failAfter) {
                    problem = "Сервер журнала недоступен: server closed the connection unexpectedly";
                    return false;
                }
                each(records[i]);
            }
            return true;
        };
    };
    const std::string path = dir / "журнал.csv";
    exportCsv(from(records.size()), path, CsvStyle::ExcelRussian);
    const std::string whole = recordsCsv(records, CsvStyle::ExcelRussian);
    ASSERT_GT(whole.size(), 3u * 64 * 1024) << "several pieces";
    EXPECT_TRUE(readBytes(path) == whole) << "the same bytes as the text made at once";

    try {
        exportCsv(from(1500), path, CsvStyle::Rfc4180);
        ADD_FAILURE() << "a source that failed is not a file written";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Сервер журнала недоступен: server closed the connection unexpectedly");
    }
    EXPECT_TRUE(readBytes(path) == whole) << "the old file, untouched";
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 1u) << "no part-written file left beside it";
}
