#pragma once
// What the server tests share: the throwaway server the journal_server
// fixture started (Z58_TEST_PG names its folder, with "/" as the separator on
// every system, so libpq and Wine take it as it stands), a journal file per
// PC, and SQL run as one of the server's roles.
#include "JournalStore.h"
#include "ServerJournal.h"
#include "TempDir.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace server_testing {

using namespace journal;

inline std::string fixtureDir() {
    const char* d = std::getenv("Z58_TEST_PG");
    return d ? d : "";
}

inline std::string readLine(const std::string& path) {
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


} // namespace server_testing
