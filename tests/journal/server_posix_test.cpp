// The journal's server where only POSIX can play it: a server stopped in the
// middle of a batch and started again, a closed port and a listener that never
// answers, and z58ctl on two PCs.
#include "SilentListener.h"
#include "EmulatorProcess.h"
#include "RunProgram.h"
#include "ServerTesting.h"
#include "SyncWorker.h"
#include "WaitFor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace server_testing;

namespace {

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


} // namespace

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
