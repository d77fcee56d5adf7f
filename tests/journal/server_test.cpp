// The journal on a real PostgreSQL server (the journal_server fixture starts
// a throwaway one): two PCs on one server, records sent twice or out of
// order, a wrong password or certificate, a record the server refuses, the
// rights of the program's role, and the workshop's records read in batches.
// Runs on Linux and, under Wine, on Windows.
#include "JournalSchema.h"
#include "RecordCsv.h"
#include "ServerTesting.h"
#include "SyncWorker.h"
#include "Timestamp.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <stdexcept>

using namespace server_testing;

TEST_F(ServerTest, two_pcs_see_each_others_records_and_backups) {
    auto first = pc("first"), second = pc("second");
    JobRecord a = record("PC-A", 5001), b = record("PC-B", 5001);
    a.backupText = std::string("PinCod=4821\r\nMicLevel=10\r\n\xC0\x00\xFF", 29);
    a.backupFile = "5001_2026-12-09_10-00-00.txt";
    ASSERT_TRUE(first->write(a));
    ASSERT_TRUE(second->write(b));
    ServerJournal one(conninfo("pc1")), two(conninfo("pc2"));
    EXPECT_EQ(syncWaiting(*first, one).sent, 1u) << one.problem();
    EXPECT_EQ(syncWaiting(*second, two).sent, 1u) << two.problem();
    EXPECT_EQ(first->waitingCount(), 0u);

    RecordFilter ofSerial;
    ofSerial.serial = 5001;
    const auto seen = two.list(ofSerial);
    ASSERT_TRUE(seen) << two.problem();
    std::set<std::string> pcs;
    for (const JobRecord& r : *seen)
        pcs.insert(r.pc);
    EXPECT_EQ(pcs, (std::set<std::string>{"PC-A", "PC-B"}));
    const auto other = two.find(a.id);
    ASSERT_TRUE(other);
    EXPECT_TRUE(other->backupText == a.backupText) << "the other PC's backup, byte for byte";
    EXPECT_EQ(two.history(5001)->count, 2u);
}

TEST_F(ServerTest, a_record_sent_twice_is_stored_once_and_a_revision_never_goes_back) {
    ServerJournal server(conninfo());
    JobRecord r = record("PC-A", 5002);
    r.revision = 1;
    ASSERT_EQ(server.send({r})[0].delivery, Delivery::Stored);
    ASSERT_EQ(server.send({r})[0].delivery, Delivery::Stored) << "a reply lost: sent again";
    JobRecord ended = r;
    ended.revision = 2;
    finishRecord(ended, JobOutcome::Failed, -3, "нет ответа");
    ASSERT_EQ(server.send({ended, ended})[0].delivery, Delivery::Stored);
    ASSERT_EQ(server.send({r})[0].delivery, Delivery::Stored) << "the earlier state late";
    EXPECT_EQ(count("id = '" + r.id + "'"), "1");
    const auto back = server.find(r.id);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->revision, 2);
    EXPECT_EQ(back->outcome, JobOutcome::Failed);
    EXPECT_EQ(back->reason, "нет ответа");
}

TEST_F(ServerTest, a_wrong_password_or_certificate_says_so_and_nothing_is_lost) {
    auto store = pc("wrong");
    JobRecord r = record("PC-W", 7100);
    ASSERT_TRUE(store->write(r));
    // "/" in the connection string on every system: "\\" would be an escape there.
    const std::string badPass = std::filesystem::path(dir / "pgpass").generic_string();
    std::ofstream(badPass) << "127.0.0.1:" << port << ":*:pc1:not-the-password\n";
    std::filesystem::permissions(badPass, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ServerJournal wrongPassword(conninfo() + " passfile=" + badPass);
    SyncPass pass = syncWaiting(*store, wrongPassword);
    EXPECT_NE(pass.problem.find("password authentication failed"), std::string::npos) << pass.problem;

    // A certificate of some other server (the fixture made one beside its own).
    const std::string otherCert = pg + "/other.crt";
    ServerJournal wrongCert("host=127.0.0.1 port=" + port + " dbname=z58 user=pc1 sslmode=verify-full sslrootcert=" + otherCert);
    pass = syncWaiting(*store, wrongCert);
    EXPECT_NE(pass.problem.find("certificate verify failed"), std::string::npos) << pass.problem;
    EXPECT_EQ(store->waitingCount(), 1u);
    EXPECT_EQ(count("pc = 'PC-W'"), "0");
}

TEST_F(ServerTest, the_program_makes_its_tables_and_a_refused_record_does_not_block_the_rest) {
    // A database with no tables, owned by the program's role: it makes them.
    ServerJournal server(conninfo("owner", "z58fresh"));
    ASSERT_TRUE(server.connect()) << server.problem();
    EXPECT_EQ(sqlAs("owner", "z58fresh", "SELECT version FROM z58_schema"), "1");
    ASSERT_EQ(sqlAs("owner", "z58fresh", "ALTER TABLE z58_record ADD CONSTRAINT no_test_port CHECK (port <> 'COM666')"), "");

    auto store = pc("refused");
    JobRecord bad = record("PC-R", 8000, "COM666");
    std::vector<JobRecord> good;
    for (int i = 0; i < 5; ++i)
        good.push_back(record("PC-R", 8001));
    ASSERT_TRUE(store->write(bad));
    ASSERT_TRUE(store->write(good));
    SyncPass pass = syncWaiting(*store, server);
    EXPECT_EQ(pass.sent, 5u);
    EXPECT_EQ(pass.refused, 1u);
    EXPECT_NE(pass.problem.find("no_test_port"), std::string::npos) << pass.problem;
    for (int i = 1; i < kMaxRefusals; ++i)
        syncWaiting(*store, server);
    EXPECT_EQ(store->waitingCount(), 0u) << "set aside after a few tries";
    EXPECT_NE(store->find(bad.id)->refused.find("no_test_port"), std::string::npos);
    EXPECT_EQ(sqlAs("owner", "z58fresh", "SELECT count(*) FROM z58_record"), "5");
}

TEST_F(ServerTest, the_programs_role_reads_adds_and_updates_but_cannot_delete_or_move_a_record) {
    ServerJournal server(conninfo());
    JobRecord r = record("PC-RIGHTS", 9000);
    r.revision = 1;
    const SentRecord sent = server.send({r})[0];
    ASSERT_EQ(sent.delivery, Delivery::Stored) << sent.reason;
    const std::string of = " WHERE id = '" + r.id + "'";
    EXPECT_NE(sqlAs("pc1", "z58", "DELETE FROM z58_record" + of).find("permission denied"), std::string::npos);
    EXPECT_NE(sqlAs("pc1", "z58", "TRUNCATE z58_record").find("permission denied"), std::string::npos);
    for (const char* column : {"id = gen_random_uuid()", "pc = 'ELSEWHERE'", "started = '2020-01-01T00:00:00.000+00:00'",
                               "started_ms = 0"})
        EXPECT_NE(sqlAs("pc1", "z58", std::string("UPDATE z58_record SET ") + column + of).find("permission denied"),
                  std::string::npos)
            << column;
    EXPECT_NE(sqlAs("pc1", "z58", "DROP TABLE z58_record").find("must be owner"), std::string::npos);
    EXPECT_EQ(sqlAs("pc1", "z58", "UPDATE z58_record SET reason = 'checked'" + of), "");
    EXPECT_EQ(count("id = '" + r.id + "' AND pc = 'PC-RIGHTS'"), "1");
}

// Thousands of the server's records, read a batch at a time, with this PC's
// that the server lacks in their places: waiting ones (one newer than all,
// one older, one at the very instant of a server record), one the server has
// at an older revision, and one it refused (set aside). The export of them is
// the text of the whole list, byte for byte; a reader that stops or throws
// part way leaves the connection usable.
TEST_F(ServerTest, the_workshops_records_come_in_batches_with_this_pcs_unsent_and_refused_ones_in_place) {
    const std::uint32_t serial = 1000000u + std::random_device()() % 1000000u;
    const Clock::time_point base = Clock::now() - std::chrono::hours(24 * 40);
    const auto at = [&](int second, const std::string& pc) {
        JobRecord r = newRecord(JobKind::SettingsRead, {pc, "tech", "z58test", "1.0"}, "COM3",
                                base + std::chrono::seconds(second));
        r.serial = serial;
        finishRecord(r, JobOutcome::Done, 0, {}, base + std::chrono::seconds(second + 1));
        return r;
    };
    constexpr int kServerRecords = 3 * ServerJournal::kFetchRows + 17;
    std::vector<JobRecord> theirs;
    for (int i = 0; i < kServerRecords; ++i)
        theirs.push_back(at(10 * i, "PC-B"));
    auto other = pc("other");
    ASSERT_TRUE(other->write(theirs));
    ServerJournal two(conninfo("pc2"));
    ASSERT_EQ(syncWaiting(*other, two, 1000).sent, theirs.size()) << two.problem();

    auto mine = pc("mine");
    ServerJournal one(conninfo("pc1"));
    JobRecord changed = at(10 * 1200 + 5, "PC-A");
    ASSERT_TRUE(mine->write(changed));
    ASSERT_EQ(syncWaiting(*mine, one).sent, 1u);
    changed.reason = "записана снова, ещё не отправлена";
    JobRecord refused = at(10 * 2000 + 5, "PC-A"), newest = at(10 * kServerRecords, "PC-A"), oldest = at(-10, "PC-A"),
              tie = at(10 * 2500, "PC-A");
    std::vector<JobRecord> unsent = {changed, refused, newest, oldest, tie};
    ASSERT_TRUE(mine->write(unsent));
    for (int i = 0; i < kMaxRefusals; ++i)
        ASSERT_EQ(mine->markRefused({{refused.id, unsent[1].revision, "violates check constraint \"x\""}}), 1u);
    ASSERT_EQ(mine->waitingCount(), 4u);
    ASSERT_EQ(mine->setAsideCount(), 1u);

    std::vector<JobRecord> expected = theirs;
    expected.insert(expected.end(), unsent.begin(), unsent.end());
    std::sort(expected.begin(), expected.end(), [](const JobRecord& a, const JobRecord& b) {
        const auto ta = *timestampMs(a.started), tb = *timestampMs(b.started);
        return ta != tb ? ta > tb : a.id > b.id;
    });
    RecordFilter ofSerial;
    ofSerial.serial = serial;
    const auto read = [&](RecordFilter f, std::size_t stopAfter = 0) {
        std::vector<JobRecord> got;
        EXPECT_TRUE(forEachWorkshopRecord(one, *mine, f, [&](const JobRecord& r) {
            got.push_back(r);
            return got.size() != stopAfter;
        })) << one.problem();
        return got;
    };
    const auto ids = [](const std::vector<JobRecord>& records, std::size_t n) {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < std::min(n, records.size()); ++i)
            out.push_back(records[i].id);
        return out;
    };
    const std::vector<JobRecord> all = read(ofSerial);
    ASSERT_EQ(all.size(), expected.size());
    EXPECT_EQ(ids(all, all.size()), ids(expected, expected.size())) << "newest first, each once";
    EXPECT_EQ(all.front().id, newest.id);
    EXPECT_EQ(all.back().id, oldest.id);
    for (const JobRecord& r : all) {
        if (r.id == changed.id) {
            EXPECT_EQ(r.reason, changed.reason) << "this PC's later revision in the server's place";
        }
        EXPECT_EQ(r.refused.empty(), r.id != refused.id) << r.pc;
    }
    RecordFilter page = ofSerial;
    page.limit = 1500;
    EXPECT_EQ(ids(read(page), 1500), ids(expected, 1500)) << "the newest so many";

    // Stopped, or thrown out of, part way: the next read starts afresh on the same connection.
    EXPECT_EQ(read(ofSerial, 10).size(), 10u);
    EXPECT_THROW(forEachWorkshopRecord(one, *mine, ofSerial,
                                       [](const JobRecord&) -> bool { throw std::runtime_error("disk full"); }),
                 std::runtime_error);
    EXPECT_TRUE(one.connected());
    EXPECT_EQ(ids(read(page), 1500), ids(expected, 1500));

    const std::string path = dir / "workshop.csv";
    exportCsv(
        [&](const std::function<bool(const JobRecord&)>& each, std::string& problem) {
            const bool ok = forEachWorkshopRecord(one, *mine, ofSerial, each);
            problem = one.problem();
            return ok;
        },
        path, CsvStyle::ExcelRussian);
    std::ifstream in(path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(written == recordsCsv(expected, CsvStyle::ExcelRussian)) << "the export is the whole list's text";
}
