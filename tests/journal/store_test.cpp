// The journal store's records and queries: what goes in comes out whole, newest
// first, by serial, kind, outcome and dates.
#include "JobRecorder.h"
#include "JournalStore.h"
#include "JournalTesting.h"
#include "RecordCsv.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include "JournalSchema.h"
using namespace journal;
using namespace journal_testing;

namespace {

struct Journal {
    TempDir dir;
    std::string path = dir / "journal.sqlite";
    JournalStore store{path};
};

JobRecord at(JobKind kind, JobOutcome outcome, std::uint32_t serial, const std::string& started) {
    JobRecord r = newRecord(kind, bench(), "COM3");
    r.started = started;
    r.serial = serial;
    r.outcome = outcome;
    return r;
}

std::vector<std::string> ids(const std::vector<JobRecord>& records) {
    std::vector<std::string> out;
    for (const JobRecord& r : records)
        out.push_back(r.id);
    return out;
}

} // namespace

TEST(journal_store, every_kind_and_outcome_round_trips_whole) {
    Journal j;
    ASSERT_EQ(j.store.access(), JournalAccess::Writable) << j.store.problem();
    EXPECT_EQ(j.store.problem(), "");
    EXPECT_EQ(j.store.fileVersion(), kJournalVersion);
    std::vector<JobRecord> written;
    for (JobKind k : kAllKinds) {
        for (JobOutcome o : kAllOutcomes) {
            JobRecord r = fullRecord(k, o);
            ASSERT_TRUE(j.store.write(r)) << j.store.problem();
            EXPECT_EQ(r.revision, 1);
            written.push_back(r);
        }
    }
    for (const JobRecord& w : written) {
        const auto back = j.store.find(w.id);
        ASSERT_TRUE(back) << w.id;
        expectSame(*back, w);
    }
    // A record with nothing optional in it stays so.
    JobRecord bare = newRecord(JobKind::Report, bench(), "");
    ASSERT_TRUE(j.store.write(bare));
    const auto back = j.store.find(bare.id);
    ASSERT_TRUE(back);
    expectSame(*back, bare);
    EXPECT_FALSE(back->serial);
    EXPECT_FALSE(back->unitNumber);
    EXPECT_EQ(sql(j.path, "SELECT count(*) FROM record WHERE backup_text IS NULL"), "1");

    EXPECT_FALSE(j.store.find("0f8fad5b-d9cb-469f-a165-70867728950e"));
    EXPECT_EQ(j.store.problem(), "") << "no such record is not a failure";
}

TEST(journal_store, the_backup_text_is_kept_byte_for_byte_even_empty) {
    Journal j;
    JobRecord r = newRecord(JobKind::Backup, bench(), "COM3");
    std::string bytes;
    for (int round = 0; round < 4; ++round)
        for (int i = 0; i < 256; ++i)
            bytes += static_cast<char>(i); // NUL, CR, 0x98 and all the rest
    noteBackup(r, "/x/1_2026-12-08_09-05-07.txt", bytes);
    ASSERT_TRUE(j.store.write(r));
    EXPECT_EQ(j.store.find(r.id)->backupText, bytes);
    EXPECT_EQ(sql(j.path, "SELECT typeof(backup_text) || length(backup_text) FROM record"), "blob1024");

    JobRecord allDefaults = newRecord(JobKind::Backup, bench(), "COM3");
    noteBackup(allDefaults, "/x/1_2026-12-08_09-05-08.txt", "");
    ASSERT_TRUE(j.store.write(allDefaults));
    EXPECT_EQ(sql(j.path, "SELECT typeof(backup_text) FROM record WHERE id = '" + allDefaults.id + "'"), "blob")
        << "an empty backup is still a backup";
}

TEST(journal_store, texts_are_utf8_in_the_file_even_when_given_in_windows_1251) {
    Journal j;
    JobRecord r = newRecord(JobKind::SettingsRead, bench(), "COM3");
    r.deviceType = "\xD2\xE8\xEF"; // "Тип" in Windows-1251: not UTF-8
    r.reason = "Ошибка";
    ASSERT_TRUE(j.store.write(r));
    const auto back = j.store.find(r.id);
    EXPECT_EQ(back->deviceType, "Тип");
    EXPECT_EQ(back->reason, "Ошибка");
}

TEST(journal_store, a_job_is_on_record_from_its_start_and_completed_at_its_end) {
    Journal j;
    JobRecorder job(j.store, newRecord(JobKind::SettingsWrite, bench(), "COM3"));
    EXPECT_EQ(job.takeProblem(), "");
    const std::string id = job.record().id;
    auto started = j.store.find(id);
    ASSERT_TRUE(started);
    EXPECT_EQ(started->outcome, JobOutcome::Interrupted) << "a job that never ends stays so";
    EXPECT_EQ(started->ended, "");
    EXPECT_EQ(started->revision, 1);

    job.record().serial = 77;
    job.record().changes = {{"MicLevel", "10", "8", false, false, ""}};
    EXPECT_EQ(j.store.find(id)->serial, std::nullopt) << "filling the record writes nothing";
    EXPECT_TRUE(job.complete(JobOutcome::Failed, -1, "Контроллер не сохранил MicLevel"));
    EXPECT_TRUE(job.complete(JobOutcome::Done)) << "the second completion changes nothing";
    const auto ended = j.store.find(id);
    EXPECT_EQ(ended->outcome, JobOutcome::Failed);
    EXPECT_EQ(ended->code, -1);
    EXPECT_EQ(ended->serial, 77u);
    EXPECT_EQ(ended->changes.size(), 1u);
    EXPECT_FALSE(ended->ended.empty());
    EXPECT_EQ(ended->revision, 2);
    EXPECT_EQ(sql(j.path, "SELECT count(*) FROM record"), "1");

    // A change list shrinking on a later write leaves no stale rows.
    JobRecord again = *ended;
    again.changes.clear();
    ASSERT_TRUE(j.store.write(again));
    EXPECT_EQ(sql(j.path, "SELECT count(*) FROM record_change"), "0");
    EXPECT_EQ(again.revision, 3);
}

TEST(journal_store, a_record_without_a_proper_id_or_time_is_refused_with_the_reason) {
    Journal j;
    JobRecord r = newRecord(JobKind::Sound, bench(), "COM3");
    r.id = "42";
    EXPECT_FALSE(j.store.write(r));
    EXPECT_NE(j.store.problem().find("нет номера (UUID)"), std::string::npos) << j.store.problem();
    EXPECT_NE(j.store.problem().find(j.path), std::string::npos);
    EXPECT_EQ(r.revision, 0) << "unchanged";
    r = newRecord(JobKind::Sound, bench(), "COM3");
    r.ended = "yesterday";
    EXPECT_FALSE(j.store.write(r));
    EXPECT_NE(j.store.problem().find("«yesterday»"), std::string::npos) << j.store.problem();
    // All or none.
    std::vector<JobRecord> batch{newRecord(JobKind::Sound, bench(), "COM3"), r};
    EXPECT_FALSE(j.store.write(batch));
    EXPECT_EQ(j.store.list().size(), 0u);
    EXPECT_EQ(j.store.problem(), "") << "a call that worked clears it";
}

TEST(journal_store, lists_newest_first_by_the_instant_with_filters) {
    Journal j;
    std::vector<JobRecord> rs{
        at(JobKind::Backup, JobOutcome::Done, 1, "2026-12-01T09:00:00.000+03:00"),
        at(JobKind::SettingsWrite, JobOutcome::Failed, 2, "2026-12-01T23:59:59.999+03:00"),
        // Earlier in Moscow's terms although its local clock shows a later hour.
        at(JobKind::Firmware, JobOutcome::Done, 1, "2026-12-01T20:00:00.000-05:00"),
        at(JobKind::Firmware, JobOutcome::Declined, 1, "2026-12-03T00:00:00.000+03:00"),
        at(JobKind::Sound, JobOutcome::Interrupted, 2, "2026-11-30T23:59:59.999+03:00"),
    };
    ASSERT_TRUE(j.store.write(rs));
    auto list = [&](RecordFilter f) {
        const auto out = ids(j.store.list(f));
        EXPECT_EQ(j.store.problem(), "");
        return out;
    };
    // 20:00 -05:00 is 04:00 +03:00 on the 2nd.
    EXPECT_EQ(list({}), (std::vector<std::string>{rs[3].id, rs[2].id, rs[1].id, rs[0].id, rs[4].id}));
    RecordFilter bySerial;
    bySerial.serial = 1;
    EXPECT_EQ(list(bySerial), (std::vector<std::string>{rs[3].id, rs[2].id, rs[0].id}));
    RecordFilter byKind;
    byKind.kind = JobKind::Firmware;
    EXPECT_EQ(list(byKind), (std::vector<std::string>{rs[3].id, rs[2].id}));
    RecordFilter byOutcome;
    byOutcome.outcome = JobOutcome::Done;
    byOutcome.serial = 1;
    EXPECT_EQ(list(byOutcome), (std::vector<std::string>{rs[2].id, rs[0].id}));
    // Dates are the local dates the records show, both ends included.
    RecordFilter day;
    day.since = day.until = "2026-12-01";
    EXPECT_EQ(list(day), (std::vector<std::string>{rs[2].id, rs[1].id, rs[0].id}));
    RecordFilter since;
    since.since = "2026-12-02";
    EXPECT_EQ(list(since), (std::vector<std::string>{rs[3].id}));
    RecordFilter until;
    until.until = "2026-11-30";
    EXPECT_EQ(list(until), (std::vector<std::string>{rs[4].id}));
    RecordFilter newest;
    newest.limit = 2;
    EXPECT_EQ(list(newest), (std::vector<std::string>{rs[3].id, rs[2].id}));
    RecordFilter none;
    none.serial = 3;
    EXPECT_TRUE(list(none).empty());

    RecordFilter bad;
    bad.since = "01.12.2026";
    EXPECT_TRUE(j.store.list(bad).empty());
    EXPECT_NE(j.store.problem().find("«01.12.2026» не в виде ГГГГ-ММ-ДД"), std::string::npos) << j.store.problem();
}

TEST(journal_store, records_of_the_same_millisecond_keep_the_order_they_were_made_in) {
    Journal j;
    std::vector<std::string> made;
    for (int i = 0; i < 5; ++i) {
        JobRecord r = at(JobKind::SettingsRead, JobOutcome::Done, 5, "2026-12-01T09:00:00.000+03:00");
        ASSERT_TRUE(j.store.write(r));
        made.insert(made.begin(), r.id);
    }
    EXPECT_EQ(ids(j.store.list()), made);
    RecordFilter f;
    f.serial = 5;
    EXPECT_EQ(ids(j.store.list(f)), made);
}

TEST(journal_store, lists_leave_the_backup_text_to_find) {
    Journal j;
    JobRecord r = fullRecord(JobKind::Backup, JobOutcome::Done);
    ASSERT_TRUE(j.store.write(r));
    const auto listed = j.store.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].backupText, "");
    EXPECT_EQ(listed[0].backupFile, r.backupFile);
    EXPECT_EQ(listed[0].changes, r.changes);
}

TEST(journal_store, what_it_knows_of_a_serial_number) {
    Journal j;
    std::vector<JobRecord> rs{at(JobKind::Backup, JobOutcome::Done, 9, "2026-12-01T09:00:00.000+03:00"),
                              at(JobKind::Firmware, JobOutcome::Failed, 9, "2026-12-02T09:00:00.000+03:00"),
                              at(JobKind::Sound, JobOutcome::Done, 10, "2026-12-05T09:00:00.000+03:00")};
    ASSERT_TRUE(j.store.write(rs));
    const auto h = j.store.history(9);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->count, 2u);
    EXPECT_EQ(h->lastStarted, "2026-12-02T09:00:00.000+03:00");
    EXPECT_EQ(h->lastKind, JobKind::Firmware);
    EXPECT_EQ(h->lastOutcome, JobOutcome::Failed);
    const auto unknown = j.store.history(4294967295u);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->count, 0u);
}

TEST(journal_store, every_write_waits_to_be_sent_until_the_server_took_that_revision) {
    Journal j;
    JobRecord r = newRecord(JobKind::Restore, bench(), "COM3");
    ASSERT_TRUE(j.store.write(r));
    RecordFilter waiting;
    waiting.waitingOnly = true;
    EXPECT_EQ(j.store.list(waiting).size(), 1u);
    EXPECT_TRUE(j.store.markSent(r.id, 1));
    EXPECT_TRUE(j.store.list(waiting).empty());
    EXPECT_FALSE(j.store.find(r.id)->waiting);
    EXPECT_EQ(sql(j.path, "SELECT sent_revision FROM record"), "1");

    finishRecord(r, JobOutcome::Done);
    ASSERT_TRUE(j.store.write(r));
    EXPECT_TRUE(j.store.find(r.id)->waiting) << "changed since it was sent";
    EXPECT_FALSE(j.store.markSent(r.id, 1)) << "the server took an older revision";
    EXPECT_EQ(j.store.list(waiting).size(), 1u);
    EXPECT_TRUE(j.store.markSent(r.id, 2));
    EXPECT_TRUE(j.store.list(waiting).empty());
}

TEST(journal_store, exports_the_filtered_records_as_csv) {
    Journal j;
    std::vector<JobRecord> rs{at(JobKind::Backup, JobOutcome::Done, 9, "2026-12-01T09:00:00.000+03:00"),
                              at(JobKind::Sound, JobOutcome::Done, 10, "2026-12-05T09:00:00.000+03:00")};
    ASSERT_TRUE(j.store.write(rs));
    RecordFilter f;
    f.serial = 9;
    exportCsv(j.store, f, j.dir / "out.csv", CsvStyle::Rfc4180);
    const std::string text = readBytes(j.dir / "out.csv");
    EXPECT_EQ(text, recordsCsv({j.store.list(f)}, CsvStyle::Rfc4180));
    EXPECT_NE(text.find(rs[0].id), std::string::npos);
    EXPECT_EQ(text.find(rs[1].id), std::string::npos);
    f.since = "bad";
    EXPECT_THROW(exportCsv(j.store, f, j.dir / "out.csv", CsvStyle::Rfc4180), std::runtime_error);
    EXPECT_EQ(readBytes(j.dir / "out.csv"), text) << "a failed export leaves the old file";
}

TEST(journal_store, a_record_the_server_refuses_is_set_aside_after_a_few_tries_until_written_again) {
    Journal j;
    JobRecord bad = at(JobKind::Backup, JobOutcome::Done, 1, "2026-12-01T10:00:00.000+03:00");
    JobRecord good = at(JobKind::Backup, JobOutcome::Done, 2, "2026-12-01T11:00:00.000+03:00");
    ASSERT_TRUE(j.store.write(bad));
    ASSERT_TRUE(j.store.write(good));
    for (int i = 1; i < kMaxRefusals; ++i) {
        EXPECT_EQ(j.store.markRefused({{bad.id, bad.revision, "violates check"}}), 1u);
        EXPECT_EQ(j.store.waitingCount(), 2u) << "tried again until the last refusal";
    }
    EXPECT_EQ(j.store.markRefused({{bad.id, bad.revision, "new row violates check constraint"}}), 1u);
    EXPECT_EQ(j.store.waitingCount(), 1u);
    RecordFilter waiting;
    waiting.waitingOnly = true;
    EXPECT_EQ(ids(j.store.list(waiting)), (std::vector<std::string>{good.id})) << "it does not hold up the rest";
    EXPECT_EQ(j.store.find(bad.id)->refused, "new row violates check constraint");
    EXPECT_EQ(j.store.setAsideCount(), 1u);
    // Not on the server, waiting or not: both, newest first, the one set aside saying why.
    RecordFilter unsent;
    unsent.unsentOnly = true;
    const std::vector<JobRecord> notThere = j.store.list(unsent);
    EXPECT_EQ(ids(notThere), (std::vector<std::string>{good.id, bad.id}));
    EXPECT_EQ(notThere.back().refused, "new row violates check constraint");

    ASSERT_TRUE(j.store.write(bad));  // changed since: tried again
    EXPECT_EQ(j.store.waitingCount(), 2u);
    EXPECT_EQ(j.store.setAsideCount(), 0u);
    EXPECT_EQ(j.store.find(bad.id)->refused, "");
    // Many marked in one go; a stale revision is not marked.
    EXPECT_EQ(j.store.markSent({{bad.id, bad.revision - 1, {}}, {good.id, good.revision, {}}}), 1u);
    EXPECT_EQ(j.store.waitingCount(), 1u);
    EXPECT_EQ(ids(j.store.list(unsent)), (std::vector<std::string>{bad.id})) << "what the server took is not listed";
}

TEST(journal_store, a_journal_of_the_first_version_is_brought_up_with_its_records) {
    Journal j;
    JobRecord r = at(JobKind::Firmware, JobOutcome::Done, 9, "2026-12-01T10:00:00.000+03:00");
    ASSERT_TRUE(j.store.write(r));
    j.store = JournalStore(j.dir / "other.sqlite");  // closed
    // As the first version left it.
    ASSERT_EQ(sql(j.path, "DROP INDEX record_waiting; ALTER TABLE record DROP COLUMN sync_refusals; "
                          "ALTER TABLE record DROP COLUMN sync_problem; "
                          "CREATE INDEX record_waiting ON record (started_ms) WHERE sync_pending = 1; "
                          "PRAGMA user_version = 1"),
              "");
    JournalStore again(j.path);
    EXPECT_EQ(again.access(), JournalAccess::Writable) << again.problem();
    EXPECT_EQ(again.fileVersion(), kJournalVersion);
    ASSERT_TRUE(again.find(r.id));
    EXPECT_EQ(again.find(r.id)->serial, 9u);
    EXPECT_EQ(again.waitingCount(), 1u);
    EXPECT_EQ(sql(j.path, "PRAGMA user_version"), std::to_string(kJournalVersion));
}
