// The record itself: ids, times, names of kinds and outcomes, the start and
// the end of a job, the change list as it goes on record.
#include "ChangeEntries.h"
#include "Embedded.h"
#include "JobRecord.h"
#include "JournalTesting.h"
#include "RecordId.h"
#include "TempDir.h"
#include "Timestamp.h"

#include <gtest/gtest.h>
#include <set>

using namespace journal;
using namespace journal_testing;

namespace {

Clock::time_point at(std::int64_t ms) { return Clock::time_point(std::chrono::milliseconds(ms)); }

// A time zone for the scope (POSIX TZ rules need no time-zone database).
struct ScopedZone {
    ScopedEnv tz;
    explicit ScopedZone(const char* zone) : tz("TZ", zone) { ::tzset(); }
    ~ScopedZone() { ::tzset(); }
};

} // namespace

TEST(record_id, is_a_random_uuid_v4_and_never_repeats) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string id = newRecordId();
        ASSERT_TRUE(isRecordId(id)) << id;
        EXPECT_EQ(id[14], '4') << id;
        EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << "RFC 4122 variant: " << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 2000u);
    EXPECT_FALSE(isRecordId(""));
    EXPECT_FALSE(isRecordId("0f8fad5b-d9cb-469f-a165-70867728950"));   // short
    EXPECT_FALSE(isRecordId("0F8FAD5B-D9CB-469F-A165-70867728950E"));  // upper case
    EXPECT_FALSE(isRecordId("0f8fad5bd-9cb-469f-a165-70867728950e"));  // dash misplaced
}

#ifndef _WIN32
TEST(timestamp, local_time_with_its_offset_and_milliseconds) {
    // 2026-12-09T07:15:30.123Z
    const std::int64_t ms = 1796800530123;
    {
        ScopedZone zone("MSK-3");
        EXPECT_EQ(timestampText(at(ms)), "2026-12-09T10:15:30.123+03:00");
    }
    {
        ScopedZone zone("NST+3:30");
        EXPECT_EQ(timestampText(at(ms)), "2026-12-09T03:45:30.123-03:30");
    }
    {
        ScopedZone zone("UTC0");
        EXPECT_EQ(timestampText(at(ms)), "2026-12-09T07:15:30.123+00:00");
        EXPECT_EQ(timestampText(at(0)), "1970-01-01T00:00:00.000+00:00");
    }
    {
        // Daylight saving: the offset of that very moment, not of today.
        ScopedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(timestampText(at(1782976530000)), "2026-07-02T09:15:30.000+02:00");
        EXPECT_EQ(timestampText(at(ms)), "2026-12-09T08:15:30.123+01:00");
    }
}
#endif

TEST(timestamp, reads_back_to_the_same_instant_and_refuses_other_texts) {
    const Clock::time_point now = Clock::now();
    const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    EXPECT_EQ(timestampMs(timestampText(now)), nowMs);
    EXPECT_EQ(timestampMs("2026-12-09T10:15:30.123+03:00"), 1796800530123);
    EXPECT_EQ(timestampMs("2026-12-09T03:45:30.123-03:30"), 1796800530123);
    for (const char* bad : {"", "2026-12-09 10:15:30.123+03:00", "2026-12-09T10:15:30+03:00", "2026-13-09T10:15:30.123+03:00",
                            "2026-02-29T10:15:30.123+03:00", "2026-12-09T24:15:30.123+03:00", "2026-12-09T10:15:30.123Z",
                            "2026-12-09T10:15:30.123+03:00 ", "2026-12-09T10:15:30.1x3+03:00"})
        EXPECT_FALSE(timestampMs(bad)) << bad;
    EXPECT_TRUE(isDateText("2028-02-29"));
    EXPECT_FALSE(isDateText("2026-02-29"));
    EXPECT_FALSE(isDateText("2026-1-09"));
    EXPECT_FALSE(isDateText("2026-12-09T"));
}

TEST(job_record, every_kind_and_outcome_has_its_name_both_ways) {
    const std::vector<std::string> kinds{"settings-read", "settings-write", "restore", "backup", "firmware", "sound", "report"};
    for (size_t i = 0; i < std::size(kAllKinds); ++i) {
        EXPECT_EQ(kindName(kAllKinds[i]), kinds[i]);
        EXPECT_EQ(kindFromName(kinds[i]), kAllKinds[i]);
    }
    const std::vector<std::string> outcomes{"done", "failed", "declined", "interrupted"};
    for (size_t i = 0; i < std::size(kAllOutcomes); ++i) {
        EXPECT_EQ(outcomeName(kAllOutcomes[i]), outcomes[i]);
        EXPECT_EQ(outcomeFromName(outcomes[i]), kAllOutcomes[i]);
    }
    EXPECT_FALSE(kindFromName("Firmware"));
    EXPECT_FALSE(outcomeFromName(""));
}

TEST(job_record, starts_interrupted_with_who_and_where_and_ends_with_the_outcome) {
    const Workplace here = Workplace::here("z58config");
    EXPECT_FALSE(here.pc.empty());
    EXPECT_FALSE(here.user.empty());
    EXPECT_EQ(here.version, "1.1.0");

    JobRecord r = newRecord(JobKind::Firmware, here, "COM7", at(1796800530123));
    EXPECT_TRUE(isRecordId(r.id));
    EXPECT_EQ(timestampMs(r.started), 1796800530123);
    EXPECT_TRUE(r.ended.empty());
    EXPECT_EQ(r.outcome, JobOutcome::Interrupted);
    EXPECT_EQ(r.pc, here.pc);
    EXPECT_EQ(r.user, here.user);
    EXPECT_EQ(r.program, "z58config");
    EXPECT_EQ(r.port, "COM7");
    EXPECT_EQ(r.revision, 0);

    finishRecord(r, JobOutcome::Failed, -3, "Нет ответа после перезапуска", at(1796800590000));
    EXPECT_EQ(timestampMs(r.ended), 1796800590000);
    EXPECT_EQ(r.code, -3);
    EXPECT_EQ(r.reason, "Нет ответа после перезапуска");
    EXPECT_EQ(r.firmwareAfter, "not read") << "a firmware update with no version once back";

    JobRecord updated = newRecord(JobKind::Firmware, here, "COM7");
    updated.firmwareAfter = "2.18";
    finishRecord(updated, JobOutcome::Done);
    EXPECT_EQ(updated.firmwareAfter, "2.18");
    JobRecord read = newRecord(JobKind::SettingsRead, here, "COM7");
    finishRecord(read, JobOutcome::Done);
    EXPECT_EQ(read.firmwareAfter, "") << "only a firmware update has a version after";

    noteBackup(read, "/home/ivan/.local/share/z58/backups/77_2026-12-08_09-05-07.txt", "A=1\n");
    EXPECT_EQ(read.backupFile, "77_2026-12-08_09-05-07.txt");
    EXPECT_EQ(read.backupText, "A=1\n");
}

TEST(change_entries, the_confirmed_rows_in_utf8_with_the_owners_values_masked) {
    ParameterList model(embeddedText("PARAMETER_LIST"));
    model.ResetToDefaults();
    const std::string controller = "PinCod=1234\nUserNumber1=+79161234567\nMicLevel=10\nBalans=\xC1\xE0\xEB\n";
    const std::string toWrite = "PinCod=4321\nUserNumber1=+79997654321\nMicLevel=8\nBalans=*102#\nNewKey=1\n";
    const auto rows = chooseChanges(model, controller, toWrite, {"PinCod"});
    auto changes = confirmedChanges(rows);
    ASSERT_EQ(changes.size(), rows.size());
    auto find = [&](const std::string& key) -> const ChangeEntry& {
        for (const ChangeEntry& e : changes)
            if (e.key == key)
                return e;
        ADD_FAILURE() << "no entry for " << key;
        return changes.front();
    };
    EXPECT_EQ(find("PinCod").from, "••••");
    EXPECT_EQ(find("PinCod").to, "••••");
    EXPECT_TRUE(find("PinCod").leftOut) << "a key kept at the controller's value is left out";
    EXPECT_EQ(find("UserNumber1").from, "••••67");
    EXPECT_EQ(find("UserNumber1").to, "••••21");
    EXPECT_FALSE(find("UserNumber1").leftOut);
    EXPECT_EQ(find("MicLevel").from, "10");
    EXPECT_EQ(find("MicLevel").to, "8");
    EXPECT_EQ(find("Balans").from, "Бал") << "converted from Windows-1251";
    EXPECT_EQ(find("NewKey").from, "") << "a key the controller does not name";
    for (const ChangeEntry& e : changes) {
        EXPECT_EQ(e.from.find("1234"), std::string::npos);
        EXPECT_EQ(e.to.find("7654"), std::string::npos);
    }

    // The read-back: one written row not kept, and one the list did not hold.
    noteUnkept(changes, {{"MicLevel", "", "8", "9", true}, {"UserNumber2", "", "+79160000011", "", false}});
    EXPECT_TRUE(find("MicLevel").notKept);
    EXPECT_EQ(find("MicLevel").keptValue, "9");
    const ChangeEntry& extra = changes.back();
    EXPECT_EQ(extra.key, "UserNumber2");
    EXPECT_EQ(extra.from, "••••11");
    EXPECT_EQ(extra.to, "••••11");
    EXPECT_TRUE(extra.notKept);
    EXPECT_EQ(extra.keptValue, "") << "not kept at all";
    EXPECT_FALSE(find("Balans").notKept);
}
