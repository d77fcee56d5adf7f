// The journal on a real PostgreSQL server (the journal_server fixture starts
// a throwaway one): two PCs on one server, records sent twice or out of
// order, a wrong password or certificate, a record the server refuses, and
// the rights of the program's role. Runs on Linux and, under Wine, on Windows.
#include "JournalSchema.h"
#include "ServerTesting.h"
#include "SyncWorker.h"

#include <filesystem>
#include <set>

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
