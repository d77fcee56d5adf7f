#pragma once
// What the journal tests share: a record with every field filled, a field by
// field comparison, a look into the file with SQLite itself, and running a
// check as an unprivileged user (permissions do not bind root).
#include "JobRecord.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace journal_testing {

using namespace journal;

inline Workplace bench() { return {"workshop-3", "ivan", "z58ctl", "1.1.0"}; }

// Every field set, values of both kinds of text: UTF-8 for people, the
// backup's Windows-1251 bytes with every byte value in it.
inline JobRecord fullRecord(JobKind kind, JobOutcome outcome, std::uint32_t serial = 305419896) {
    JobRecord r = newRecord(kind, bench(), "COM3");
    r.serial = serial;
    r.deviceType = "QV_r2";
    r.firmwareBefore = "2.17";
    r.firmwareAfter = kind == JobKind::Firmware ? "2.18" : "";
    r.changes = {{"MicLevel", "10", "8", false, false, ""},
                 {"PinCod", "••••", "••••", true, false, ""},
                 {"Balans", "*100#", "*102#", false, true, "*100#"}};
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    r.backupText = "PinCod=1234\nBalans=\xC1\xE0\xEB\xE0\xED\xF1\n" + bytes + "\n";
    r.backupFile = "305419896_2026-12-08_14-05-09.txt";
    r.seriesId = "series-7";
    r.unitNumber = 12;
    finishRecord(r, outcome, outcome == JobOutcome::Failed ? -2 : 0,
                 outcome == JobOutcome::Failed ? "Контроллер не ответил" : "");
    return r;
}

inline void expectSame(const JobRecord& a, const JobRecord& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.revision, b.revision);
    EXPECT_EQ(a.waiting, b.waiting);
    EXPECT_EQ(a.started, b.started);
    EXPECT_EQ(a.ended, b.ended);
    EXPECT_EQ(a.pc, b.pc);
    EXPECT_EQ(a.user, b.user);
    EXPECT_EQ(a.program, b.program);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.port, b.port);
    EXPECT_EQ(a.serial, b.serial);
    EXPECT_EQ(a.deviceType, b.deviceType);
    EXPECT_EQ(a.firmwareBefore, b.firmwareBefore);
    EXPECT_EQ(a.firmwareAfter, b.firmwareAfter);
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.outcome, b.outcome);
    EXPECT_EQ(a.code, b.code);
    EXPECT_EQ(a.reason, b.reason);
    EXPECT_EQ(a.changes, b.changes);
    EXPECT_TRUE(a.backupText == b.backupText) << "backup text differs (" << a.backupText.size() << " and "
                                              << b.backupText.size() << " bytes)";
    EXPECT_EQ(a.backupFile, b.backupFile);
    EXPECT_EQ(a.seriesId, b.seriesId);
    EXPECT_EQ(a.unitNumber, b.unitNumber);
}

// path: UTF-8 (on Windows a narrow path would be the ANSI code page's).
inline std::string readBytes(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs SQL on the file with SQLite itself and gives the first column of each row, "|"-joined.
inline std::string sql(const std::string& path, const std::string& statements) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open";
    }
    sqlite3_busy_timeout(db, 5000);
    std::string out;
    char* error = nullptr;
    const int rc = sqlite3_exec(
        db, statements.c_str(),
        [](void* o, int, char** values, char**) {
            auto& s = *static_cast<std::string*>(o);
            if (!s.empty())
                s += "|";
            s += values[0] ? values[0] : "NULL";
            return 0;
        },
        &out, &error);
    if (rc != SQLITE_OK)
        out = std::string("error: ") + (error ? error : "?");
    sqlite3_free(error);
    sqlite3_close(db);
    return out;
}

// Runs check as a user without privileges where the tests run as root (in a
// child process, after handing the folder to that user) and gives its text.
std::string asUnprivileged(const std::filesystem::path& folder, const std::function<std::string()>& check);

} // namespace journal_testing
