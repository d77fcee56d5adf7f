// z58ctl and the service journal end to end: what its jobs leave on record,
// the journal commands, a run killed mid-upload, two runs recording at once.
#include "SilentListener.h"
#include "EmulatorProcess.h"
#include "JournalStore.h"
#include "RunProgram.h"
#include "TempDir.h"
#include "WaitFor.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

namespace {

struct CtlJournal : ::testing::Test, IsolatedSetup {
    ProgramResult ctl(std::vector<std::string> args, const std::string& input = "") {
        return runProgram(Z58CTL_PATH, std::move(args), input);
    }
    // The journal as the program finds it in this test's data folder.
    std::string journalPath() const { return dir / "data/z58/journal.sqlite"; }
    std::vector<journal::JobRecord> records() { return journal::JournalStore(journalPath()).list(); }
};

std::string firstColumn(const std::string& path, const char* query) {
    sqlite3* db = nullptr;
    std::string out = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, query, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string l = text.substr(at, end - at);
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        out.push_back(l);
        at = end + 1;
    }
    return out;
}

} // namespace

TEST_F(CtlJournal, jobs_are_listed_filtered_shown_and_their_backup_written_back) {
    EmulatorProcess emu({"--register", "COM7", "--serial", "4242", "--settings-text", "PinCod=4821\\nMicLevel=10\\n"});
    ASSERT_EQ(ctl({"--port", "COM7", "version"}).exitCode, 0);
    ASSERT_EQ(ctl({"--port", "COM7", "backup"}).exitCode, 0);
    std::ofstream(dir / "w.txt", std::ios::binary) << "PinCod=4821\r\nMicLevel=14\r\n";
    ASSERT_EQ(ctl({"--port", "COM7", "write-settings", dir / "w.txt"}).exitCode, 0);
    EXPECT_EQ(ctl({"--port", "COM7", "update-sound"}, "n\n").exitCode, 3);

    const auto csv = ctl({"journal", "--csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const auto rows = lines(csv.out);
    ASSERT_EQ(rows.size(), 4u) << csv.out << "\n(the version read is not recorded)";
    EXPECT_EQ(rows[0], "id,started,ended,pc,user,program,port,serial,type,firmware_before,firmware_after,kind,outcome,code,"
                       "reason,changes");
    EXPECT_NE(rows[1].find(",sound,declined,"), std::string::npos) << "newest first: " << rows[1];
    EXPECT_NE(rows[2].find(",4242,"), std::string::npos);
    EXPECT_NE(rows[2].find(",settings-write,done,"), std::string::npos);
    EXPECT_NE(rows[2].find("MicLevel:10>14"), std::string::npos) << rows[2];
    EXPECT_EQ(rows[2].find("4821"), std::string::npos) << "the owner's PIN never reaches the journal's output";
    EXPECT_NE(rows[3].find(",backup,done,"), std::string::npos);

    EXPECT_EQ(lines(ctl({"journal", "--csv", "--kind", "backup"}).out).size(), 2u);
    EXPECT_EQ(lines(ctl({"journal", "--csv", "--outcome", "declined"}).out).size(), 2u);
    EXPECT_EQ(lines(ctl({"journal", "--csv", "--serial", "4243"}).out).size(), 1u) << "the header only";
    EXPECT_EQ(lines(ctl({"journal", "--csv", "--serial", "4242", "--since", "2000-01-01", "--until", "2999-12-31"}).out).size(), 3u);
    EXPECT_EQ(lines(ctl({"journal", "--csv", "--until", "2000-01-01"}).out).size(), 1u);
    const auto table = ctl({"journal", "--serial", "4242"});
    EXPECT_EQ(table.exitCode, 0);
    EXPECT_NE(table.out.find("settings-write"), std::string::npos);

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"journal", "--kind", "flash"},
                                                {"journal", "--outcome", "ok"},
                                                {"journal", "--serial", "12ab"},
                                                {"journal", "--since", "2026-02-30"},
                                                {"journal", "--since", "2026-12-09", "--until", "2026-12-01"},
                                                {"journal", "show"},
                                                {"journal", "frobnicate"}})
        EXPECT_EQ(ctl(bad).exitCode, 2) << bad[1] << " " << (bad.size() > 2 ? bad[2] : "");

    const std::string writeId = rows[2].substr(0, 36), soundId = rows[1].substr(0, 36);
    const auto shown = ctl({"journal", "show", writeId.substr(0, 8)});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_NE(shown.out.find("id: " + writeId), std::string::npos);
    EXPECT_NE(shown.out.find("  MicLevel: 10 > 14"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("backup: 4242_"), std::string::npos);

    ASSERT_EQ(ctl({"journal", "backup", writeId, dir / "back.txt"}).exitCode, 0);
    EXPECT_EQ(readWhole(dir / "back.txt"), "PinCod=4821\r\nMicLevel=10\r\n") << "what the controller held before the write";
    EXPECT_EQ(ctl({"journal", "backup", soundId, dir / "none.txt"}).exitCode, 1) << "a record without a backup";
    EXPECT_EQ(ctl({"journal", "show", "00000000-0000-4000-8000-000000000000"}).exitCode, 1);
}

TEST_F(CtlJournal, killed_during_a_sound_upload_it_leaves_an_interrupted_record_in_a_sound_file) {
    EmulatorProcess emu({"--register", "COM7", "--slow", "15"});
    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&fa, errPipe[0]);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {Z58CTL_PATH, "--port", "COM7", "update-sound", "--yes"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, Z58CTL_PATH, &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(errPipe[1]);
    // Killed once the blocks are going.
    std::string err;
    char buf[512];
    while (err.find("  10%") == std::string::npos) {
        const ssize_t n = ::read(errPipe[0], buf, sizeof buf);
        if (n <= 0)
            break;
        err.append(buf, static_cast<size_t>(n));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(errPipe[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << err;

    EXPECT_EQ(firstColumn(journalPath(), "PRAGMA integrity_check"), "ok");
    const auto all = records();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].kind, journal::JobKind::Sound);
    EXPECT_EQ(all[0].outcome, journal::JobOutcome::Interrupted);
    EXPECT_TRUE(all[0].ended.empty()) << "it never ended";
    // And the journal goes on: the next run records beside it (on another
    // controller: this one is still in the cut-off upload).
    EmulatorProcess next({"--register", "COM8"});
    EXPECT_EQ(ctl({"--port", "COM8", "backup"}).exitCode, 0);
    EXPECT_EQ(records().size(), 2u);
}

TEST_F(CtlJournal, two_runs_recording_at_once_lose_nothing) {
    EmulatorProcess first({"--register", "COM7", "--serial", "1"});
    EmulatorProcess second({"--register", "COM8", "--serial", "2"});
    constexpr int kRuns = 12;
    auto loop = [&](const char* port, int& failures) {
        for (int i = 0; i < kRuns; ++i)
            failures += ctl({"--port", port, "backup"}).exitCode != 0;
    };
    int failedA = 0, failedB = 0;
    std::thread a(loop, "COM7", std::ref(failedA));
    std::thread b(loop, "COM8", std::ref(failedB));
    a.join();
    b.join();
    EXPECT_EQ(failedA + failedB, 0);
    const auto all = records();
    ASSERT_EQ(all.size(), 2u * kRuns);
    int ofFirst = 0;
    for (const journal::JobRecord& r : all) {
        EXPECT_EQ(r.outcome, journal::JobOutcome::Done) << r.reason;
        ofFirst += r.serial == 1u;
    }
    EXPECT_EQ(ofFirst, kRuns);
}

TEST_F(CtlJournal, with_a_server_that_never_answers_an_upload_ends_as_without_one_and_its_records_wait) {
    SilentListener silent;
    ScopedEnv server{"Z58_JOURNAL_SERVER", "host=127.0.0.1 port=" + std::to_string(silent.port) +
                                               " dbname=z58 user=pc1 sslmode=disable"};
    EmulatorProcess emu({"--register", "COM7"});
    const auto fw = ctl({"--port", "COM7", "update-firmware", "--yes", "--no-backup"});
    EXPECT_EQ(fw.exitCode, 0) << fw.err;
    EXPECT_NE(fw.err.find("Загрузка закончена."), std::string::npos);
    const auto sync = ctl({"journal", "sync"});
    EXPECT_EQ(sync.exitCode, 1);
    EXPECT_NE(sync.err.find("Ждут отправки: 1: Сервер журнала недоступен"), std::string::npos) << sync.err;
    EXPECT_EQ(ctl({"journal", "--local", "--csv", "--kind", "firmware"}).out.find(",firmware,done,") != std::string::npos,
              true);
}
