// z58ctl series on an emulated bench: units plugged in one after another and
// four at once with faults, a stop during an upload, set-ups that are refused;
// what the terminal, the summary CSV and the service journal say of each unit.
// On Linux against emulators on pseudo-terminals; in the Windows stage under
// Wine against emulators the broker maps to COM ports.
#include "EmulatorProcess.h"
#include "JournalStore.h"
#include "RunningProgram.h"
#include "TempDir.h"
#include "WaitFor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::string ctlPath() {
#ifdef _WIN32
    // Built beside the tests: build-windows/tools/z58ctl.exe.
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (std::filesystem::path(self).parent_path().parent_path() / "tools" / "z58ctl.exe").u8string();
#else
    return Z58CTL_PATH;
#endif
}

// A program's text on stdout: Windows' text mode ends each line with CR LF.
std::string text(std::string out) {
#ifdef _WIN32
    for (size_t at; (at = out.find("\r\n")) != std::string::npos;)
        out.erase(at, 1);
#endif
    return out;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(std::filesystem::u8path(path), std::ios::binary) << content;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// The unit lines of stdout by serial number (the first column).
std::map<std::string, std::string> unitLines(const std::string& out) {
    std::map<std::string, std::string> bySerial;
    for (const std::string& l : lines(out))
        bySerial[l.substr(0, l.find('\t'))] = l;
    return bySerial;
}

const char kCsvHeader[] = "unit,port,serial,type,firmware_before,firmware_after,outcome,failed_step,reason,seconds,sheet";
using CsvRow = std::map<std::string, std::string>;

// RFC 4180: quoted fields may hold commas, quotes and line breaks.
std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        any = true;
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            row.push_back(std::move(field));
            rows.push_back(std::move(row));
            field.clear();
            row.clear();
            any = false;
        } else if (c != '\r') {
            field += c;
        }
    }
    if (any) {
        row.push_back(std::move(field));
        rows.push_back(std::move(row));
    }
    return rows;
}

// The summary's rows by serial number; the header is checked byte for byte.
std::map<std::string, CsvRow> summaryRows(const std::string& path) {
    const std::string text = readWhole(path);
    EXPECT_EQ(text.substr(0, text.find("\r\n")), kCsvHeader) << path;
    const auto rows = parseCsv(text);
    std::map<std::string, CsvRow> bySerial;
    if (rows.empty())
        return bySerial;
    for (size_t r = 1; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r].size(), rows[0].size()) << "row " << r << " of " << path;
        CsvRow row;
        for (size_t c = 0; c < rows[0].size() && c < rows[r].size(); ++c)
            row[rows[0][c]] = rows[r][c];
        EXPECT_EQ(bySerial.count(row["serial"]), 0u) << "one row per unit: " << row["serial"];
        bySerial[row["serial"]] = row;
    }
    return bySerial;
}

// The series' id as the command names it on stderr at its start.
std::string seriesId(const std::string& err) {
    const std::string start = "Серия ";
    for (const std::string& l : lines(err))
        if (l.rfind(start, 0) == 0 && l.size() >= start.size() + 36 && l[start.size() + 8] == '-')
            return l.substr(start.size(), 36);
    return {};
}

// The frame types an emulator's --log holds.
std::set<int> framesIn(const std::string& logPath) {
    std::set<int> types;
    for (const std::string& l : lines(readWhole(logPath)))
        if (l.rfind("{\"type\":", 0) == 0)
            types.insert(std::atoi(l.c_str() + 8));
    return types;
}
constexpr int kReqIdInfo = 10, kReqVersion = 14, kCommitUpdate = 190, kBeginFirmware = 195, kReqSettings = 200,
              kSettings = 201;

struct Outcome {
    int code = -1;
    std::string out, err;
};

struct CtlSeries : ::testing::Test, IsolatedSetup {
    std::string reference = dir / "reference.txt";

    CtlSeries() { writeFile(reference, "MicLevel=12\r\nPinCod=1111\r\n"); }

    std::unique_ptr<RunningProgram> series(std::vector<std::string> args) {
        args.insert(args.begin(), "series");
        return std::make_unique<RunningProgram>(ctlPath(), args);
    }
    Outcome ctl(const std::vector<std::string>& args, std::chrono::milliseconds limit = 60s) {
        RunningProgram p(ctlPath(), args);
        const int code = p.wait(limit);
        return {code, p.out(), p.err()};
    }
    std::string journalPath() const {
#ifdef _WIN32
        return dir / "local/Z58/journal.sqlite";
#else
        return dir / "data/z58/journal.sqlite";
#endif
    }
    std::vector<journal::JobRecord> records() { return journal::JournalStore(journalPath()).list(); }

    // The records of each unit of a series, by unit number; a record of
    // another series or of none fails the test.
    std::map<int, std::vector<journal::JobRecord>> unitRecords(const std::string& id) {
        std::map<int, std::vector<journal::JobRecord>> byUnit;
        for (journal::JobRecord& r : records()) {
            EXPECT_EQ(r.seriesId, id) << journal::kindName(r.kind) << " " << r.id;
            EXPECT_TRUE(r.unitNumber.has_value()) << journal::kindName(r.kind) << " " << r.id;
            byUnit[r.unitNumber.value_or(0)].push_back(std::move(r));
        }
        return byUnit;
    }
};

const journal::JobRecord* findKind(const std::vector<journal::JobRecord>& records, journal::JobKind kind) {
    const auto it = std::find_if(records.begin(), records.end(), [kind](const journal::JobRecord& r) { return r.kind == kind; });
    return it == records.end() ? nullptr : &*it;
}

} // namespace

TEST_F(CtlSeries, twelve_units_one_after_another_are_each_done_once_also_one_plugged_in_twice) {
    // Under Wine the prefix holds the other suites' ports and COM1-COM4 mapped
    // to the machine's own serial devices: the series is kept to this test's.
#ifdef _WIN32
    auto run = series({reference, "--count", "12", "--sheets", dir / "sheets", "--ports", "COM21,COM22,COM23,COM24"});
#else
    auto run = series({reference, "--count", "12", "--sheets", dir / "sheets"});
#endif
    ASSERT_TRUE(run->started());
    std::vector<std::string> serials;
    for (int k = 0; k < 12; ++k) {
        const std::string serial = std::to_string(7000 + k);
        serials.push_back(serial);
        std::vector<std::string> args = {"--register", "COM" + std::to_string(21 + k % 3), "--serial", serial};
        if (k % 2 == 0) {
            args.push_back("--version");
            args.push_back("001.050");  // older than the carried firmware: updated
        }
        EmulatorProcess unit(args);
        ASSERT_TRUE(run->outHasSoon(serial + "\tdone", 30000)) << "unit " << k << "\n" << run->out() << run->err();
        if (k == 5) {
            // Unit 3 plugged in again on another port: asked who it is, and left alone.
            EmulatorProcess again({"--register", "COM24", "--serial", "7002", "--log", dir / "again.jsonl"});
            ASSERT_TRUE(fileContainsSoon(dir / "again.jsonl", "{\"type\":10,", 10000)) << run->err();
            std::this_thread::sleep_for(500ms);  // a unit taken would be asked its version at once
            EXPECT_EQ(framesIn(dir / "again.jsonl"), std::set<int>{kReqIdInfo});
        }
    }
    // The twelfth ends the series by itself.
    ASSERT_EQ(run->wait(30s), 0) << run->err();
    const auto out = lines(text(run->out()));
    ASSERT_EQ(out.size(), 12u) << run->out();
    for (size_t k = 0; k < out.size(); ++k)
        EXPECT_EQ(out[k], serials[k] + "\tdone") << "one line per unit as it ends, in order here";

    // The summary went beside the sheets.
    std::string csv;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "sheets"))
        if (entry.path().extension() == ".csv")
            csv = entry.path().u8string();
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(std::filesystem::path(csv).filename().u8string().rfind("series-", 0), 0u) << csv;
    const auto rows = summaryRows(csv);
    ASSERT_EQ(rows.size(), 12u);
    const std::string id = seriesId(run->err());
    ASSERT_FALSE(id.empty()) << run->err();
    const auto byUnit = unitRecords(id);
    for (int k = 0; k < 12; ++k) {
        const CsvRow& row = rows.at(serials[static_cast<size_t>(k)]);
        EXPECT_EQ(row.at("outcome"), "done");
        EXPECT_EQ(row.at("failed_step"), "");
        EXPECT_EQ(row.at("firmware_before"), k % 2 == 0 ? "001.050" : "001.083");
        EXPECT_EQ(row.at("firmware_after"), "001.083");
        EXPECT_EQ(row.at("port"), "COM" + std::to_string(21 + k % 3));
        EXPECT_NE(readWhole(row.at("sheet")).find("<html"), std::string::npos) << row.at("sheet");
        // Each job of the unit on record under its number: the backup (which
        // names the serial), the firmware when it was due, the write.
        const auto found = byUnit.find(std::stoi(row.at("unit")));
        ASSERT_NE(found, byUnit.end()) << serials[static_cast<size_t>(k)];
        const auto& unit = found->second;
        EXPECT_EQ(unit.size(), k % 2 == 0 ? 3u : 2u);
        const journal::JobRecord* backup = findKind(unit, journal::JobKind::Backup);
        ASSERT_NE(backup, nullptr);
        EXPECT_EQ(backup->serial, static_cast<std::uint32_t>(7000 + k));
        const journal::JobRecord* write = findKind(unit, journal::JobKind::SettingsWrite);
        ASSERT_NE(write, nullptr);
        EXPECT_EQ(write->outcome, journal::JobOutcome::Done);
        EXPECT_EQ(findKind(unit, journal::JobKind::Firmware) != nullptr, k % 2 == 0);
    }
    EXPECT_EQ(byUnit.size(), 12u) << "the unit plugged in twice has no records of a thirteenth";
}

TEST_F(CtlSeries, four_at_once_with_faults_each_end_alone_with_their_reasons) {
    EmulatorProcess otherType({"--register", "COM31", "--serial", "8001", "--type", "QV_r3", "--version", "001.050", "--log",
                               dir / "type.jsonl"});
    EmulatorProcess refusesCrc({"--register", "COM32", "--serial", "8002", "--version", "001.050", "--refuse-crc"});
    EmulatorProcess dropsKey({"--register", "COM33", "--serial", "8003", "--drop-key", "MicLevel"});
#ifdef _WIN32
    // Wine's COM ports are the broker's links to the line each emulator starts
    // on; a line that comes back as a new pseudo-terminal under another name is
    // linked in the Linux port alias folder, which Wine never reads. So here the
    // unit restarts on its own port; the move is tested on Linux.
    std::printf("[ NOTE ] under Wine the unit restarts on its own port: a line moving to another COM port is not mapped\n");
    EmulatorProcess moves({"--register", "COM34", "--serial", "8004", "--version", "001.050"});
    const std::string backOn = "COM34";
#else
    EmulatorProcess moves({"--register", "COM34", "--serial", "8004", "--version", "001.050", "--restart-drop", "300",
                           "--come-back-as", "COM39"});
    const std::string backOn = "COM39";
#endif
    // Not among --ports: never asked.
    EmulatorProcess notListed({"--register", "COM35", "--serial", "8005", "--log", dir / "unlisted.jsonl"});
    auto run = series({reference, "--ports", "COM31,COM32,COM33,COM34,COM39", "--count", "4", "--csv", dir / "out/summary.csv"});
    ASSERT_EQ(run->wait(90s), 1) << run->err();

    auto out = unitLines(text(run->out()));
    ASSERT_EQ(out.size(), 4u) << run->out();
    EXPECT_EQ(out["8001"], "8001\tfailed\tidentify: тип устройства «QV_r3» не совпадает с типом прошивки «QV_r2»");
    EXPECT_EQ(out["8002"].rfind("8002\tfailed\tfirmware: ", 0), 0u) << out["8002"];
    EXPECT_EQ(out["8003"].rfind("8003\tfailed\tsettings: ", 0), 0u) << out["8003"];
    EXPECT_NE(out["8003"].find("(MicLevel): 12 → 8"), std::string::npos) << "names what was not kept: " << out["8003"];
    EXPECT_EQ(out["8004"], "8004\tdone");
    EXPECT_EQ(framesIn(dir / "type.jsonl"), (std::set<int>{kReqIdInfo, kReqVersion})) << "another type: nothing but questions";
    EXPECT_TRUE(framesIn(dir / "unlisted.jsonl").empty());

    auto rows = summaryRows(dir / "out/summary.csv");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows["8001"]["outcome"], "failed");
    EXPECT_EQ(rows["8001"]["failed_step"], "identify");
    EXPECT_EQ(rows["8001"]["type"], "QV_r3");
    EXPECT_EQ(rows["8001"]["reason"], "тип устройства «QV_r3» не совпадает с типом прошивки «QV_r2»");
    EXPECT_EQ(rows["8002"]["failed_step"], "firmware");
    EXPECT_EQ(rows["8002"]["firmware_after"], "");
    EXPECT_EQ(rows["8003"]["failed_step"], "settings");
    EXPECT_EQ(rows["8003"]["reason"], "Устройство сохранило не все настройки: Чувствительность микрофона (MicLevel): 12 → 8")
        << "the reason whole, on one line";
    EXPECT_EQ(rows["8004"]["outcome"], "done");
    EXPECT_EQ(rows["8004"]["port"], backOn) << "where it came back after the firmware's restart";
    EXPECT_EQ(rows["8004"]["firmware_after"], "001.083");

    const std::string id = seriesId(run->err());
    auto byUnit = unitRecords(id);
    const auto unit = [&](const std::string& serial) -> const std::vector<journal::JobRecord>& {
        return byUnit[std::stoi(rows[serial]["unit"])];
    };
    EXPECT_TRUE(unit("8001").empty()) << "identifying is not on record";
    ASSERT_EQ(unit("8002").size(), 2u);
    EXPECT_EQ(findKind(unit("8002"), journal::JobKind::Backup)->outcome, journal::JobOutcome::Done);
    EXPECT_EQ(findKind(unit("8002"), journal::JobKind::Firmware)->outcome, journal::JobOutcome::Failed);
    ASSERT_EQ(unit("8003").size(), 2u);
    EXPECT_EQ(findKind(unit("8003"), journal::JobKind::SettingsWrite)->outcome, journal::JobOutcome::Failed);
    ASSERT_EQ(unit("8004").size(), 3u);
    const journal::JobRecord* firmware = findKind(unit("8004"), journal::JobKind::Firmware);
    EXPECT_EQ(firmware->outcome, journal::JobOutcome::Done);
    EXPECT_EQ(firmware->firmwareAfter, "001.083");
    const journal::JobRecord* write = findKind(unit("8004"), journal::JobKind::SettingsWrite);
    EXPECT_EQ(write->outcome, journal::JobOutcome::Done);
    EXPECT_EQ(write->port, backOn);
}

TEST_F(CtlSeries, four_at_once_take_well_under_four_times_one) {
    // Each reply a moment late, as a controller's: the time is the line's, not
    // this machine's processor's, which the emulators share with z58ctl.
    const auto timed = [&](const std::vector<std::string>& ports) {
        std::vector<std::unique_ptr<EmulatorProcess>> units;
        std::string list;
        for (size_t i = 0; i < ports.size(); ++i) {
            units.push_back(std::make_unique<EmulatorProcess>(std::vector<std::string>{
                "--register", ports[i], "--serial", std::to_string(8100 + i), "--version", "001.050", "--slow", "2"}));
            list += (list.empty() ? "" : ",") + ports[i];
        }
        const auto t0 = std::chrono::steady_clock::now();
        auto run = series({reference, "--sound", "--ports", list, "--count", std::to_string(ports.size())});
        EXPECT_EQ(run->wait(120s), 0) << run->err();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    const double one = timed({"COM41"});
    const double four = timed({"COM42", "COM43", "COM44", "COM45"});
    std::printf("[ FIGURE ] one unit %.2f s, four at once %.2f s: %.2f times one\n", one, four, four / one);
    RecordProperty("four_over_one", std::to_string(four / one));
    EXPECT_LT(four, 2.5 * one) << "one after another would take four times one";
}

TEST_F(CtlSeries, stopped_during_an_upload_the_upload_finishes_and_the_summary_is_written) {
    EmulatorProcess unit({"--register", "COM51", "--serial", "9001", "--slow", "5", "--log", dir / "unit.jsonl"});
    auto run = series({reference, "--sound", "--ports", "COM51,COM52", "--csv", dir / "summary.csv"});
    ASSERT_TRUE(run->errHasSoon("Звук 20 %", 30000)) << run->err();
    // Wine (8) gives a program started without a terminal no console, and with
    // one it delivers no Ctrl+Break to another process group: the stop is
    // tested where a signal can be sent.
    if (!run->interrupt())
        GTEST_SKIP() << "no Ctrl+Break can be sent to z58ctl here (" << run->lastProblem()
                     << "): Wine delivers no console control event to another program";
    ASSERT_TRUE(run->errHasSoon("Серия останавливается", 5000)) << run->err();
    // Plugged in while the series stops: not taken.
    EmulatorProcess late({"--register", "COM52", "--serial", "9002", "--log", dir / "late.jsonl"});
    ASSERT_EQ(run->wait(60s), 1) << run->err();
    EXPECT_EQ(text(run->out()), "9001\tstopped\tsettings: серия остановлена\n");
    EXPECT_TRUE(framesIn(dir / "late.jsonl").empty());
    EXPECT_EQ(framesIn(dir / "unit.jsonl").count(kCommitUpdate), 1u) << "the upload went to its end";
    EXPECT_EQ(framesIn(dir / "unit.jsonl").count(kSettings), 0u) << "nothing after it";

    auto rows = summaryRows(dir / "summary.csv");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows["9001"]["outcome"], "stopped");
    EXPECT_EQ(rows["9001"]["failed_step"], "settings");
    EXPECT_EQ(rows["9001"]["reason"], "серия остановлена");
    auto byUnit = unitRecords(seriesId(run->err()));
    ASSERT_EQ(byUnit[1].size(), 2u);
    EXPECT_EQ(findKind(byUnit[1], journal::JobKind::Sound)->outcome, journal::JobOutcome::Done);
    EXPECT_EQ(findKind(byUnit[1], journal::JobKind::SettingsWrite), nullptr);
}

TEST_F(CtlSeries, a_reference_or_usage_that_cannot_serve_exits_2_and_sends_nothing) {
    EmulatorProcess unit({"--register", "COM61", "--log", dir / "unit.jsonl"});
    writeFile(dir / "range.txt", "MicLevel=99\r\n");
    writeFile(dir / "empty.txt", "\r\n");
    // A key the description does not know is sent as it stands: only its length stops it.
    writeFile(dir / "long.txt", "MicLevel=12\r\nNotAKey=" + std::string(2000, '7') + "\r\n");
    std::filesystem::create_directories(std::filesystem::u8path(dir / "folder.csv"));
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{dir / "missing.txt"}, "missing.txt"},
        {{dir / "range.txt"}, "MicLevel: 99"},
        {{dir / "empty.txt"}, "в файле нет ни одной настройки"},
        {{dir / "long.txt"}, "не более 1015"},
        {{}, "usage: z58ctl series FILE"},
        {{reference, reference}, "usage: z58ctl series FILE"},
        {{reference, "--firmware", "sometimes"}, "--firmware: \"sometimes\""},
        {{reference, "--count", "0"}, "--count: \"0\""},
        {{reference, "--count", "-2"}, "--count: \"-2\""},
        {{reference, "--count", "12x"}, "--count: \"12x\""},
        {{reference, "--ports", ","}, "--ports: no port"},
        {{reference, "--ports", "COM61,COM1"}, "\"COM1\""},
        {{reference, "--ports", "COM61", "--all"}, "--ports and --all"},
        {{reference, "--port", "COM61"}, "--ports, not --port"},
        {{reference, "--keep-owner", "--write-owner"}, "--keep-owner and --write-owner"},
        {{reference, "--csv"}, "--csv: no file"},
        {{reference, "--csv", dir / "folder.csv"}, "cannot be written"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "series");
        const Outcome r = ctl(args, 20s);
        EXPECT_EQ(r.code, 2) << args.size() << " " << (args.size() > 1 ? args[1] : "") << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(framesIn(dir / "unit.jsonl").empty()) << readWhole(dir / "unit.jsonl");
    // The same controller is asked at once by a series that can start.
    EXPECT_EQ(ctl({"series", reference, "--ports", "COM61", "--count", "1"}).code, 0);
    EXPECT_EQ(framesIn(dir / "unit.jsonl").count(kReqIdInfo), 1u);
}

TEST_F(CtlSeries, owner_values_and_the_firmware_as_the_options_say) {
    EmulatorProcess unit({"--register", "COM62", "--serial", "6001", "--version", "001.050", "--settings-text",
                          "PinCod=2222\\nMicLevel=3\\n"});
    const Outcome kept = ctl({"series", reference, "--ports", "COM62", "--count", "1", "--firmware", "never"});
    ASSERT_EQ(kept.code, 0) << kept.err;
    EXPECT_EQ(text(kept.out), "6001\tdone\n");
    // Redirected, read-settings gives a settings file's bytes, on Windows too.
    EXPECT_EQ(ctl({"--port", "COM62", "read-settings"}).out, "PinCod=2222\r\nMicLevel=12\r\n") << "the unit's own PIN stays";
    EXPECT_EQ(text(ctl({"--port", "COM62", "version"}).out), "QV_r2\n001.050\nNov 11 2019\n") << "--firmware never";

    // A new series: the unit done in the last one is done again.
    const Outcome written = ctl({"series", reference, "--ports", "COM62", "--count", "1", "--firmware", "always", "--write-owner"});
    ASSERT_EQ(written.code, 0) << written.err;
    EXPECT_EQ(ctl({"--port", "COM62", "read-settings"}).out, "PinCod=1111\r\nMicLevel=12\r\n");
    EXPECT_EQ(text(ctl({"--port", "COM62", "version"}).out), "QV_r2\n001.083\nNov 11 2019\n");
    int firmwareRecords = 0;
    for (const journal::JobRecord& r : records())
        firmwareRecords += r.kind == journal::JobKind::Firmware;
    EXPECT_EQ(firmwareRecords, 1);
}

TEST_F(CtlSeries, stop_on_failure_ends_the_series_at_its_first_failed_unit) {
    EmulatorProcess unit({"--register", "COM63", "--serial", "6101", "--type", "QV_r3"});
    // No count: only the failure ends it.
    const Outcome r = ctl({"series", reference, "--ports", "COM63", "--stop-on-failure"}, 30s);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(text(r.out).rfind("6101\tfailed\tidentify: ", 0), 0u) << r.out;
}
