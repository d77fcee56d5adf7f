// The workshop server under load, on this machine: a throwaway PostgreSQL
// (tests/journal/pg_server.sh), 50 PCs (z58ctl processes with data folders of
// their own) each sending 1,000 waiting records at once, one PC sending
// 10,000, and a firmware upload with no server against one that never answers.
// Prints the figures; started by hand (it needs postgresql-15), not by ctest.
#include "EmulatorProcess.h"
#include "JournalStore.h"
#include "RunProgram.h"
#include "SilentListener.h"
#include "TempDir.h"

#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

using namespace journal;
using Steady = std::chrono::steady_clock;

namespace {

double ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string readLine(const std::string& path) {
    std::ifstream in(path);
    std::string s;
    std::getline(in, s);
    return s;
}

void fill(const std::string& dataFolder, const std::string& pc, int count) {
    std::filesystem::create_directories(dataFolder + "/z58");
    JournalStore store(dataFolder + "/z58/journal.sqlite");
    std::vector<JobRecord> records;
    for (int i = 0; i < count; ++i) {
        JobRecord r = newRecord(kAllKinds[static_cast<size_t>(i) % 7], Workplace{pc, "tech", "z58ctl", "1.1.0"}, "COM3");
        r.serial = static_cast<std::uint32_t>(100000 + i % 500);
        finishRecord(r, JobOutcome::Done);
        if (i % 7 == 3)
            r.backupText = std::string(1024, 'S');
        records.push_back(std::move(r));
    }
    store.write(records);
}

std::string scalar(PGconn* c, const char* sql) {
    PGresult* r = PQexec(c, sql);
    std::string v = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) ? PQgetvalue(r, 0, 0) : "?";
    PQclear(r);
    return v;
}

} // namespace

int main() {
    TempDir dir;
    const std::string pg = dir / "pg";
    if (std::system(("sh " Z58_PG_SCRIPT " start " + pg + " >/dev/null").c_str()) != 0) {
        std::fprintf(stderr, "no server could be started\n");
        return 1;
    }
    const std::string port = readLine(pg + "/port");
    setEnv("PGPASSFILE", pg + "/pgpass");
    const std::string conninfo = "host=127.0.0.1 port=" + port + " dbname=z58 user=pc1 sslmode=require";
    PGconn* admin = PQconnectdb(("host=" + pg + "/sock port=" + port + " dbname=z58 user=admin").c_str());

    // 50 PCs at once.
    constexpr int kPcs = 50, kEach = 1000;
    for (int p = 0; p < kPcs; ++p)
        fill(dir / ("pc" + std::to_string(p)), "PC-" + std::to_string(p), kEach);
    std::atomic<int> peak{0};
    std::atomic<bool> running{true};
    std::thread watch([&] {
        while (running) {
            peak = std::max(peak.load(), std::atoi(scalar(admin, "SELECT count(*) FROM pg_stat_activity WHERE "
                                                                 "application_name = 'z58'").c_str()));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::vector<std::thread> pcs;
    std::atomic<int> failed{0};
    const auto start = Steady::now();
    for (int p = 0; p < kPcs; ++p)
        pcs.emplace_back([&, p] {
            // Each process's own environment: its data folder and the server.
            const std::string env = "XDG_DATA_HOME=" + (dir / ("pc" + std::to_string(p)));
            const ProgramResult r = runProgram("/usr/bin/env", {env, "Z58_JOURNAL_SERVER=" + conninfo, Z58CTL_PATH, "journal", "sync"});
            failed += r.exitCode != 0;
        });
    for (std::thread& t : pcs)
        t.join();
    const auto took = Steady::now() - start;
    running = false;
    watch.join();
    std::printf("50 PCs x 1000 records: %.0f ms until the last arrived; stored %s (distinct ids %s); "
                "peak connections %d; failed runs %d\n",
                ms(took), scalar(admin, "SELECT count(*) FROM z58_record").c_str(),
                scalar(admin, "SELECT count(DISTINCT id) FROM z58_record").c_str(), peak.load(), failed.load());

    // One PC, 10,000 waiting records.
    fill(dir / "big", "PC-BIG", 10000);
    const auto bigStart = Steady::now();
    const ProgramResult big = runProgram("/usr/bin/env", {"XDG_DATA_HOME=" + (dir / "big"), "Z58_JOURNAL_SERVER=" + conninfo,
                                                          Z58CTL_PATH, "journal", "sync"});
    std::printf("10000 records from one PC: %.0f ms (%s)\n", ms(Steady::now() - bigStart), big.out.c_str());

    // A firmware upload: no server, then one that never answers.
    const SilentListener silent;
    const std::string silentServer = "host=127.0.0.1 port=" + std::to_string(silent.port) + " dbname=z58 user=pc1";
    ScopedEnv ports{"Z58_PORT_DIR", dir / "ports"};
    ScopedEnv data{"XDG_DATA_HOME", dir / "upload"};
    EmulatorProcess emu({"--register", "COM7"});
    for (const bool withServer : {false, true, false, true}) {
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            std::vector<std::string> args;
            if (withServer)
                args.push_back("Z58_JOURNAL_SERVER=" + silentServer);
            for (const char* s : {Z58CTL_PATH, "--port", "COM7", "update-firmware", "--yes", "--no-backup"})
                args.push_back(s);
            const auto t0 = Steady::now();
            const ProgramResult r = runProgram("/usr/bin/env", args);
            times.push_back(ms(Steady::now() - t0));
            if (r.exitCode != 0)
                std::printf("upload failed: %s\n", r.err.c_str());
        }
        std::sort(times.begin(), times.end());
        std::printf("firmware upload %s: median %.0f ms, worst %.0f ms\n",
                    withServer ? "with a server that never answers" : "without a server", times[2], times[4]);
    }
    PQfinish(admin);
    std::system(("sh " Z58_PG_SCRIPT " stop " + pg).c_str());
    return 0;
}
