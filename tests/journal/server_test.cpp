// The journal on a real PostgreSQL server (the journal_server fixture starts
// a throwaway one): two PCs on one server, records sent twice or out of order,
// a server stopped mid-batch, unreachable or silent, refusing a record, and
// the rights of the program's role.
#include "JournalSchema.h"
#include "JournalStore.h"
#include "ServerJournal.h"
#include "SyncWorker.h"
#include "EmulatorProcess.h"
#include "RunProgram.h"
#include "TempDir.h"
#include "WaitFor.h"

#include <libpq-fe.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using namespace journal;

namespace {

std::string fixtureDir() {
    const char* d = std::getenv("Z58_TEST_PG");
    return d ? d : "";
}

std::string readLine(const std::string& path) {
    std::ifstream in(path);
    std::string s;
    std::getline(in, s);
    return s;
}

struct ServerTest : ::testing::Test {
    TempDir dir;
    std::string pg = fixtureDir();
    std::string port;

    void SetUp() override {
        if (pg.empty())
            GTEST_FAIL() << "Z58_TEST_PG names no server (run through ctest: the journal_server fixture starts it)";
        port = readLine(pg + "/port");
        setEnv("PGPASSFILE", pg + "/pgpass");
    }
    std::string conninfo(const std::string& user = "pc1", const std::string& db = "z58") const {
        return "host=127.0.0.1 port=" + port + " dbname=" + db + " user=" + user +
               " sslmode=verify-full sslrootcert=" + pg + "/root.crt";
    }
    // A PC of its own: a journal file of its own.
    std::unique_ptr<JournalStore> pc(const std::string& name) {
        return std::make_unique<JournalStore>(dir / (name + ".sqlite"));
    }
    static JobRecord record(const std::string& pc, std::uint32_t serial, const std::string& port = "COM3") {
        Workplace w{pc, "tech", "z58test", "1.0"};
        JobRecord r = newRecord(JobKind::Backup, w, port);
        r.serial = serial;
        return r;
    }
    // SQL as a role, straight through libpq: the first column of the first row, or the error.
    std::string sqlAs(const std::string& user, const std::string& db, const std::string& statement) {
        PGconn* c = PQconnectdb(conninfo(user, db).c_str());
        std::string out;
        if (PQstatus(c) != CONNECTION_OK) {
            out = std::string("no connection: ") + PQerrorMessage(c);
        } else {
            PGresult* r = PQexec(c, statement.c_str());
            const ExecStatusType st = PQresultStatus(r);
            if (st == PGRES_TUPLES_OK && PQntuples(r) > 0)
                out = PQgetvalue(r, 0, 0);
            else if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
                out = std::string("error: ") + PQresultErrorMessage(r);
            PQclear(r);
        }
        PQfinish(c);
        return out;
    }
    std::string count(const std::string& where) {
        return sqlAs("pc1", "z58", "SELECT count(*) FROM z58_record WHERE " + where);
    }
};

// A port nobody listens on, and one whose listener never answers.
int closedPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
}

struct SilentListener {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    SilentListener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, 16);
        socklen_t n = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        port = ntohs(a.sin_port);
    }
    ~SilentListener() { close(fd); }
};

} // namespace

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

TEST_F(ServerTest, a_server_stopped_mid_batch_loses_nothing_and_stores_each_record_once) {
    auto store = pc("busy");
    std::vector<JobRecord> records;
    for (int i = 0; i < 3000; ++i)
        records.push_back(record("PC-STOP", 6000));
    ASSERT_TRUE(store->write(records));
    for (int i = 0; i < 3000; i += 7) {  // some of them ended since
        finishRecord(records[static_cast<size_t>(i)], JobOutcome::Done);
        ASSERT_TRUE(store->write(records[static_cast<size_t>(i)]));
    }
    ServerJournal server(conninfo());
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(std::system(("sh " + std::string(Z58_PG_SCRIPT) + " pause " + pg).c_str()), 0);
    });
    // Whether the pause cut a batch short or came after it, nothing may be lost.
    syncWaiting(*store, server, 50);
    stopper.join();
    JobRecord late = record("PC-STOP", 6000);
    ASSERT_TRUE(store->write(late));
    const SyncPass down = syncWaiting(*store, server, 50);
    EXPECT_NE(down.problem.find("Сервер журнала недоступен"), std::string::npos) << down.problem;
    EXPECT_GE(down.waiting, 1u);
    ASSERT_EQ(std::system(("sh " + std::string(Z58_PG_SCRIPT) + " resume " + pg).c_str()), 0);
    SyncPass after;
    for (int pass = 0; pass < 5 && store->waitingCount() != 0u; ++pass)
        after = syncWaiting(*store, server, 50);
    EXPECT_EQ(store->waitingCount(), 0u) << after.problem;
    EXPECT_EQ(count("pc = 'PC-STOP'"), "3001");
    EXPECT_EQ(count("pc = 'PC-STOP' AND ended IS NOT NULL"), std::to_string((3000 + 6) / 7)) << "each with its last revision";
}

TEST_F(ServerTest, an_unreachable_or_silent_server_costs_a_bounded_pass_and_the_records_wait) {
    auto store = pc("offline");
    JobRecord r = record("PC-OFF", 7000);
    ASSERT_TRUE(store->write(r));
    SilentListener silent;
    for (const int p : {closedPort(), silent.port}) {
        ServerJournal server("host=127.0.0.1 port=" + std::to_string(p) + " dbname=z58 user=pc1 connect_timeout=2");
        const auto start = std::chrono::steady_clock::now();
        const SyncPass pass = syncWaiting(*store, server);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(pass.sent, 0u);
        EXPECT_EQ(pass.waiting, 1u);
        EXPECT_NE(pass.problem.find("Сервер журнала недоступен"), std::string::npos) << pass.problem;
        // The bound is the connect time-out (the behaviour under test), with room for a loaded machine.
        EXPECT_LT(took, std::chrono::seconds(10)) << "port " << p;
    }
    EXPECT_EQ(store->waitingCount(), 1u);
}

TEST_F(ServerTest, a_wrong_password_or_certificate_says_so_and_nothing_is_lost) {
    auto store = pc("wrong");
    JobRecord r = record("PC-W", 7100);
    ASSERT_TRUE(store->write(r));
    const std::string badPass = dir / "pgpass";
    std::ofstream(badPass) << "127.0.0.1:" << port << ":*:pc1:not-the-password\n";
    std::filesystem::permissions(badPass, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ServerJournal wrongPassword(conninfo() + " passfile=" + badPass);
    SyncPass pass = syncWaiting(*store, wrongPassword);
    EXPECT_NE(pass.problem.find("password authentication failed"), std::string::npos) << pass.problem;

    // A certificate of some other server.
    const std::string otherCert = dir / "other.crt";
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout " +
                           (dir / "other.key") + " -out " + otherCert + " >/dev/null 2>&1")
                              .c_str()),
              0);
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

// z58ctl on two PCs (two data folders) sharing the server.
TEST_F(ServerTest, z58ctl_on_two_pcs_shares_records_and_a_backup_through_the_server) {
    const std::string server = conninfo();
    auto ctl = [](std::vector<std::string> args) { return runProgram(Z58CTL_PATH, std::move(args)); };
    ScopedEnv config{"XDG_CONFIG_HOME", dir / "config"};
    ScopedEnv ports{"Z58_PORT_DIR", dir / "ports"};
    ProgramResult r;
    {
        ScopedEnv first{"XDG_DATA_HOME", dir / "pc1"};
        EXPECT_EQ(ctl({"journal", "server", server + " password=secret"}).exitCode, 2) << "no password kept";
        r = ctl({"journal", "server", server});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "") << "verify-full on this PC: no caution";
        EmulatorProcess emu({"--register", "COM7", "--serial", "8800", "--settings-text", "MicLevel=11\\n"});
        ASSERT_EQ(ctl({"--port", "COM7", "backup"}).exitCode, 0);
        r = ctl({"journal", "sync"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ctl({"journal", "sync"}).out, "Отправлено: 0\n") << "nothing waits";
    }
    ScopedEnv second{"XDG_DATA_HOME", dir / "pc2"};
    ScopedEnv env{"Z58_JOURNAL_SERVER", server};
    r = ctl({"journal", "--csv", "--serial", "8800"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_NE(r.out.find(",8800,"), std::string::npos) << "the first PC's record, seen from the second: " << r.out;
    const std::string id = r.out.substr(r.out.find('\n') + 1, 36);
    ASSERT_EQ(ctl({"journal", "backup", id, dir / "restored.txt"}).exitCode, 0);
    EXPECT_EQ(readWhole(dir / "restored.txt"), "MicLevel=11\r\n");
    EXPECT_EQ(ctl({"journal", "--local", "--csv", "--serial", "8800"}).out.find(",8800,"), std::string::npos)
        << "not on this PC";
}
