// The journal file under stress: two programs recording at once, a program
// killed mid-write, a journal of a newer program, a damaged or foreign file,
// a folder closed for writing, and who may read it.
#include "DataFolder.h"
#include "JobRecorder.h"
#include "JournalStore.h"
#include "JournalTesting.h"
#include "TempDir.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>

#ifndef _WIN32
#include "ChildProcess.h"
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "JournalSchema.h"
using namespace journal;
using namespace journal_testing;
namespace fs = std::filesystem;

namespace {

unsigned modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

struct Snapshot {
    std::string bytes;
    timespec mtime{};
    explicit Snapshot(const std::string& path) : bytes(readBytes(path)) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        mtime = st.st_mtim;
    }
    bool operator==(const Snapshot& o) const {
        return bytes == o.bytes && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

// A journal with a few records, closed again.
void makeJournal(const std::string& path, int records) {
    JournalStore store(path);
    ASSERT_EQ(store.access(), JournalAccess::Writable) << store.problem();
    for (int i = 0; i < records; ++i) {
        JobRecord r = fullRecord(JobKind::SettingsWrite, JobOutcome::Done, static_cast<std::uint32_t>(i));
        ASSERT_TRUE(store.write(r)) << store.problem();
    }
}

void put(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

struct ScopedUmask {
    mode_t old;
    explicit ScopedUmask(mode_t m) : old(::umask(m)) {}
    ~ScopedUmask() { ::umask(old); }
};

// Children write records while the parent waits; each exits 0 when all its writes worked.
pid_t recordInChild(const std::string& path, int count, int go, const std::string& program) {
    const pid_t pid = child_process::forkTied();
    if (pid != 0)
        return pid;
    char c;
    if (::read(go, &c, 1) != 1)
        _exit(4);
    JournalStore store(path);
    if (store.access() != JournalAccess::Writable) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), store.problem().c_str());
        _exit(5);
    }
    const Workplace here{"pc", "user", program, "1.1.0"};
    for (int i = 0; i < count; ++i) {
        JobRecorder job(store, newRecord(JobKind::SettingsRead, here, "COM3"));
        if (!job.takeProblem().empty())
            _exit(6);
        job.record().serial = static_cast<std::uint32_t>(i);
        if (!job.complete(JobOutcome::Done))
            _exit(7);
    }
    _exit(0);
}

int exitCode(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

} // namespace

TEST(journal_file, two_programs_recording_at_once_lose_nothing) {
    TempDir dir;
    const std::string path = dir / "journal.sqlite";
    constexpr int kEach = 150;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    // Both open a journal that does not exist yet: its making is raced too.
    // Each child holds the pipe's write end too: one the test leaves early
    // would wait for its go forever, were it not for the guards.
    child_process::Guard a(recordInChild(path, kEach, fds[0], "z58config"));
    child_process::Guard b(recordInChild(path, kEach, fds[0], "z58ctl"));
    ASSERT_EQ(::write(fds[1], "gg", 2), 2);
    ::close(fds[1]);
    ::close(fds[0]);
    EXPECT_EQ(exitCode(a.release()), 0);
    EXPECT_EQ(exitCode(b.release()), 0);
    EXPECT_EQ(sql(path, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(sql(path, "SELECT count(*) FROM record WHERE outcome = 'done' AND ended IS NOT NULL AND revision = 2"),
              std::to_string(2 * kEach));
    EXPECT_EQ(sql(path, "SELECT program || count(*) FROM record GROUP BY program ORDER BY program"),
              "z58config" + std::to_string(kEach) + "|z58ctl" + std::to_string(kEach));
    EXPECT_EQ(sql(path, "PRAGMA journal_mode"), "wal");
}

TEST(journal_file, a_program_killed_mid_job_leaves_an_interrupted_record_and_a_sound_file) {
    TempDir dir;
    const std::string path = dir / "journal.sqlite";
    makeJournal(path, 1);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = child_process::forkTied();
    if (child == 0) {
        JournalStore store(path);
        JobRecorder job(store, newRecord(JobKind::Firmware, bench(), "COM3"));
        (void)!::write(ready[1], job.record().id.data(), job.record().id.size());
        // Then record as fast as it can until it is killed in the middle of some write.
        for (;;) {
            JobRecord r = fullRecord(JobKind::Backup, JobOutcome::Done);
            store.write(r);
        }
    }
    child_process::Guard recording(child); // it never ends by itself
    ::close(ready[1]);
    char id[36];
    ASSERT_EQ(::read(ready[0], id, sizeof id), static_cast<ssize_t>(sizeof id));
    ::close(ready[0]);
    ::usleep(100 * 1000);
    ::kill(recording.release(), SIGKILL);
    EXPECT_EQ(exitCode(child), 100 + SIGKILL);

    EXPECT_EQ(sql(path, "PRAGMA integrity_check"), "ok");
    JournalStore store(path);
    ASSERT_EQ(store.access(), JournalAccess::Writable) << store.problem();
    const auto interrupted = store.find(std::string(id, sizeof id));
    ASSERT_TRUE(interrupted);
    EXPECT_EQ(interrupted->outcome, JobOutcome::Interrupted);
    EXPECT_EQ(interrupted->ended, "");
    const auto all = store.list();
    EXPECT_GE(all.size(), 2u);
    for (const JobRecord& r : all) {
        if (r.kind != JobKind::Backup)
            continue;
        const auto whole = store.find(r.id);
        ASSERT_TRUE(whole);
        EXPECT_EQ(whole->changes.size(), 3u) << "a record and its change list go in together";
        EXPECT_EQ(whole->backupText, fullRecord(JobKind::Backup, JobOutcome::Done).backupText);
    }
}

TEST(journal_file, only_its_user_may_read_it) {
    TempDir dir;
    ScopedUmask mask(022);
    const std::string path = dir / "journal.sqlite";
    JournalStore store(path);
    JobRecord r = fullRecord(JobKind::Backup, JobOutcome::Done);
    ASSERT_TRUE(store.write(r));
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(path + "-wal"), 0600u) << "the companions take the journal's mode";
    EXPECT_EQ(modeOf(path + "-shm"), 0600u);

    // A journal made readable by others (copied in, an old version) is closed again.
    const std::string old = dir / "old.sqlite";
    makeJournal(old, 1);
    ::chmod(old.c_str(), 0644);
    JournalStore reopened(old);
    EXPECT_EQ(modeOf(old), 0600u);
}

TEST(journal_file, the_default_journal_lives_in_the_private_data_folder) {
    TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", dir / "data");
    JournalStore store;
    EXPECT_EQ(store.path(), dataFolder() + "/journal.sqlite");
    EXPECT_EQ(store.access(), JournalAccess::Writable) << store.problem();
    EXPECT_EQ(modeOf(dataFolder()), 0700u);
    EXPECT_EQ(modeOf(backupFolder()), 0700u);
    EXPECT_EQ(modeOf(store.path()), 0600u);

    // No data folder to be had: said, and the job goes on without a record.
    put(dir / "file", "x");
    ScopedEnv broken("XDG_DATA_HOME", dir / "file");
    JournalStore none;
    EXPECT_EQ(none.access(), JournalAccess::Unavailable);
    EXPECT_NE(none.problem().find("не открывается"), std::string::npos) << none.problem();
    JobRecord r = newRecord(JobKind::Sound, bench(), "COM3");
    EXPECT_FALSE(none.write(r));
    EXPECT_NE(none.problem().find("не открывается"), std::string::npos) << none.problem();
    EXPECT_TRUE(none.list().empty());
    EXPECT_FALSE(none.history(1));
}

TEST(journal_file, a_journal_of_a_newer_program_is_only_read_and_never_changed) {
    TempDir dir;
    const std::string path = dir / "journal.sqlite";
    makeJournal(path, 3);
    // What a later version would do: its own table, its own version number.
    const std::string later = std::to_string(kJournalVersion + 1);
    ASSERT_EQ(sql(path, "CREATE TABLE later (x); PRAGMA user_version = " + later), "");
    ASSERT_FALSE(fs::exists(path + "-wal")) << "closed and checkpointed";
    const Snapshot before(path);
    {
        JournalStore store(path);
        EXPECT_EQ(store.access(), JournalAccess::ReadOnly);
        EXPECT_EQ(store.fileVersion(), kJournalVersion + 1);
        EXPECT_NE(store.problem().find("более новая версия программы (версия журнала " + later +
                                       ", эта программа знает до " + std::to_string(kJournalVersion) + ")"),
                  std::string::npos)
            << store.problem();
        EXPECT_EQ(store.list().size(), 3u) << "still read";
        JobRecorder job(store, newRecord(JobKind::SettingsRead, bench(), "COM3"));
        const std::string told = job.takeProblem();
        EXPECT_NE(told.find("только для чтения"), std::string::npos) << told;
        EXPECT_EQ(job.takeProblem(), "") << "told once per job";
        EXPECT_FALSE(job.complete(JobOutcome::Done));
        EXPECT_FALSE(store.markSent(store.list()[0].id, 1));
    }
    EXPECT_TRUE(Snapshot(path) == before) << "bytes and time of the file unchanged";
    EXPECT_EQ(sql(path, "PRAGMA user_version"), later);
}

TEST(journal_file, a_damaged_or_foreign_file_is_said_so_and_left_as_it_was) {
    TempDir dir;
    // Not a database at all.
    const std::string junk = dir / "junk.sqlite";
    std::string bytes;
    for (int i = 0; i < 8192; ++i)
        bytes += static_cast<char>((i * 131 + 7) & 0xFF);
    put(junk, bytes);
    // A journal whose first page (the table list) is overwritten past the header.
    const std::string damaged = dir / "damaged.sqlite";
    makeJournal(damaged, 20);
    {
        std::string d = readBytes(damaged);
        ASSERT_GT(d.size(), 4096u);
        for (size_t i = 100; i < 4096; ++i)
            d[i] = static_cast<char>(0xA5);
        put(damaged, d);
    }
    // Someone else's SQLite file where the journal should be.
    const std::string foreign = dir / "foreign.sqlite";
    ASSERT_EQ(sql(foreign, "CREATE TABLE notes (t); INSERT INTO notes VALUES ('mine')"), "");

    for (const std::string& path : {junk, damaged, foreign}) {
        const Snapshot before(path);
        {
            JournalStore store(path);
            EXPECT_EQ(store.access(), JournalAccess::Unavailable) << path;
            const std::string message = store.problem();
            EXPECT_NE(message.find(path), std::string::npos) << message;
            EXPECT_NE(message.find("оставлен как есть"), std::string::npos) << message;
            if (path == foreign)
                EXPECT_NE(message.find("не журнал этой программы"), std::string::npos) << message;
            else
                EXPECT_NE(message.find("повреждён"), std::string::npos) << message;
            JobRecord r = newRecord(JobKind::Backup, bench(), "COM3");
            EXPECT_FALSE(store.write(r));
            EXPECT_EQ(store.problem(), message);
            EXPECT_TRUE(store.list().empty());
            EXPECT_FALSE(store.find(r.id));
        }
        EXPECT_TRUE(Snapshot(path) == before) << path;
        // A reader of a WAL file may leave its empty companions, never content.
        EXPECT_TRUE(!fs::exists(path + "-wal") || fs::file_size(path + "-wal") == 0) << path;
    }
}

TEST(journal_file, a_folder_closed_for_writing_is_named_and_nothing_is_lost) {
    TempDir dir;
    const fs::path closed = dir.path / "closed";
    fs::create_directories(closed / "empty");
    fs::create_directories(closed / "kept");
    const std::string kept = (closed / "kept" / "journal.sqlite").string();
    makeJournal(kept, 2);
    const Snapshot before(kept);
    ::chmod((closed / "empty").c_str(), 0555);
    ::chmod((closed / "kept").c_str(), 0555);

    const std::string seen = asUnprivileged(closed, [&] {
        std::string out;
        {
            JournalStore store((closed / "empty" / "journal.sqlite").string());
            out += std::to_string(static_cast<int>(store.access())) + "\n" + store.problem() + "\n";
        }
        JournalStore store(kept);
        out += std::to_string(static_cast<int>(store.access())) + "\n" + store.problem() + "\n";
        JobRecord r = newRecord(JobKind::Backup, bench(), "COM3");
        out += store.write(r) ? "written\n" : "refused: " + store.problem() + "\n";
        return out;
    });
    ::chmod((closed / "empty").c_str(), 0755);
    ::chmod((closed / "kept").c_str(), 0755);
    std::istringstream lines(seen);
    std::string access, problem, keptAccess, keptProblem, write;
    std::getline(lines, access);
    std::getline(lines, problem);
    std::getline(lines, keptAccess);
    std::getline(lines, keptProblem);
    std::getline(lines, write);
    EXPECT_EQ(access, std::to_string(static_cast<int>(JournalAccess::Unavailable))) << seen;
    EXPECT_NE(problem.find("папка «" + (closed / "empty").string() + "» закрыта для записи"), std::string::npos) << seen;
    EXPECT_FALSE(fs::exists(closed / "empty" / "journal.sqlite"));
    EXPECT_NE(keptAccess, std::to_string(static_cast<int>(JournalAccess::Writable))) << seen;
    EXPECT_NE(keptProblem.find("папка «" + (closed / "kept").string() + "» закрыта для записи"), std::string::npos)
        << seen;
    EXPECT_EQ(write.rfind("refused: ", 0), 0u) << seen;
    EXPECT_TRUE(Snapshot(kept) == before);
}
#endif
