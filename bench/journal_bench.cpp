// Journal costs: one job's two writes (start and end, each a commit flushed to
// disk), opening a journal of 100,000 records and filtering it by serial, and
// the CSV of all 100,000. The journal lives in the system's temporary folder.
#include "JobRecord.h"
#include "JournalStore.h"
#include "RecordCsv.h"
#include "TempDir.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <vector>

using namespace journal;

namespace {

constexpr int kRecords = 100000;
constexpr std::uint32_t kSerials = 1000; // 100 records of each controller
constexpr int kWrites = 1000;

const Workplace kHere{"workshop-3", "ivan", "z58config", "1.1.0"};

// A year of work: every seventh job a settings write with its change list,
// every backup and settings write with a backup of a kilobyte.
JobRecord sampleRecord(int i, const std::string& backup) {
    const auto start = Clock::time_point(std::chrono::seconds(1767225600 + static_cast<std::int64_t>(i) * 315));
    const JobKind kind = kAllKinds[static_cast<size_t>(i) % std::size(kAllKinds)];
    JobRecord r = newRecord(kind, kHere, "COM3", start);
    r.serial = 305419000u + static_cast<std::uint32_t>(i) % kSerials;
    r.deviceType = "QV_r2";
    r.firmwareBefore = "2.17";
    if (kind == JobKind::SettingsWrite)
        r.changes = {{"MicLevel", "10", "8", false, false, ""},
                     {"PinCod", "••••", "••••", true, false, ""},
                     {"Balans", "*100#", "*102#", false, false, ""}};
    if (kind == JobKind::SettingsWrite || kind == JobKind::Backup)
        noteBackup(r, "/x/305419896_2026-12-08_14-05-09.txt", backup);
    const JobOutcome outcome = i % 20 == 0 ? JobOutcome::Failed : JobOutcome::Done;
    finishRecord(r, outcome, outcome == JobOutcome::Failed ? -2 : 0, outcome == JobOutcome::Failed ? "Нет ответа" : "",
                 start + std::chrono::seconds(20));
    return r;
}

// The 100,000-record journal, made once for the benchmarks that read it.
struct BigJournal {
    TempDir dir;
    std::string path = dir / "journal.sqlite";
    BigJournal() {
        JournalStore store(path);
        std::string backup;
        while (backup.size() < 1000)
            backup += "MicLevel=10\nPinCod=1234\n";
        std::vector<JobRecord> records;
        records.reserve(kRecords);
        for (int i = 0; i < kRecords; ++i)
            records.push_back(sampleRecord(i, backup));
        if (!store.write(records))
            throw std::runtime_error(store.problem());
    }
};

std::unique_ptr<BigJournal> big;
const std::string& bigJournal() {
    if (!big)
        big = std::make_unique<BigJournal>();
    return big->path;
}

double ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Each iteration is one job: the record written at its start and again at its end.
void BM_RecordStartAndEnd(benchmark::State& state) {
    TempDir dir;
    JournalStore store(dir / "journal.sqlite");
    std::vector<double> times;
    times.reserve(kWrites);
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        JobRecord r = newRecord(JobKind::SettingsWrite, kHere, "COM3");
        r.serial = 305419896;
        bool ok = store.write(r);
        r.changes = {{"MicLevel", "10", "8", false, false, ""}};
        finishRecord(r, JobOutcome::Done);
        ok = store.write(r) && ok;
        times.push_back(ms(std::chrono::steady_clock::now() - t0));
        if (!ok)
            state.SkipWithError(store.problem().c_str());
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["p99_ms"] = times[times.size() * 99 / 100];
    state.counters["worst_ms"] = times.back();
}
BENCHMARK(BM_RecordStartAndEnd)->Iterations(kWrites)->Unit(benchmark::kMillisecond);

// What a window showing one controller's history does: open, then filter.
void BM_OpenAndFilterBySerial100k(benchmark::State& state) {
    const std::string& path = bigJournal();
    std::uint32_t serial = 305419000;
    size_t found = 0;
    for (auto _ : state) {
        JournalStore store(path);
        RecordFilter f;
        f.serial = serial++ % kSerials + 305419000;
        found = store.list(f).size();
        if (found != kRecords / kSerials)
            state.SkipWithError("wrong count");
    }
    state.counters["records"] = static_cast<double>(found);
}
BENCHMARK(BM_OpenAndFilterBySerial100k)->Unit(benchmark::kMillisecond);

void BM_FilterBySerial100k(benchmark::State& state) {
    JournalStore store(bigJournal());
    std::uint32_t serial = 0;
    for (auto _ : state) {
        RecordFilter f;
        f.serial = serial++ % kSerials + 305419000;
        benchmark::DoNotOptimize(store.list(f).size());
    }
}
BENCHMARK(BM_FilterBySerial100k)->Unit(benchmark::kMillisecond);

void BM_HistoryOfSerial100k(benchmark::State& state) {
    JournalStore store(bigJournal());
    std::uint32_t serial = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.history(serial++ % kSerials + 305419000));
}
BENCHMARK(BM_HistoryOfSerial100k)->Unit(benchmark::kMicrosecond);

void BM_CsvExport100k(benchmark::State& state) {
    JournalStore store(bigJournal());
    TempDir out;
    for (auto _ : state)
        exportCsv(store, {}, out / "journal.csv", static_cast<CsvStyle>(state.range(0)));
    state.counters["records"] = kRecords;
}
BENCHMARK(BM_CsvExport100k)->Arg(static_cast<int>(CsvStyle::Rfc4180))->Arg(static_cast<int>(CsvStyle::ExcelRussian))
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
