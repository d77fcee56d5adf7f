// z58ctl journal: the service records of this PC, listed, shown one by one,
// and a record's backup written back as a settings file. Reads only: the
// records are written by the jobs themselves.
#include "Cli.h"
#include "JournalStore.h"
#include "RecordCsv.h"
#include "ServerJournal.h"
#include "ServerSetting.h"
#include "SyncWorker.h"
#include "SettingsFile.h"
#include "Timestamp.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace cli {

namespace {

const char kUsageText[] =
    "z58ctl journal [--serial N] [--kind KIND] [--outcome OUTCOME] [--since DATE] [--until DATE] [--csv] | "
    "journal show ID | journal backup ID FILE | journal server [CONNINFO|--off] | journal sync";

// A serial number as z58ctl prints it, or as the window shows it (signed).
std::optional<std::uint32_t> parseSerial(const std::string& text) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const unsigned long long value = std::stoull(digits);
    if (negative ? value > 0x80000000ull : value > 0xFFFFFFFFull)
        return std::nullopt;
    return negative ? static_cast<std::uint32_t>(0x100000000ull - value) : static_cast<std::uint32_t>(value);
}

// The filter the options ask for; false (the message said) for a bad value.
bool readFilter(const Args& a, journal::RecordFilter& filter) {
    if (a.serial) {
        filter.serial = parseSerial(*a.serial);
        if (!filter.serial) {
            err("--serial: \"" + *a.serial + "\" is not a serial number");
            return false;
        }
    }
    if (a.kind) {
        filter.kind = journal::kindFromName(*a.kind);
        if (!filter.kind) {
            err("--kind: \"" + *a.kind +
                "\" is not one of settings-read, settings-write, restore, backup, firmware, sound, report");
            return false;
        }
    }
    if (a.outcome) {
        filter.outcome = journal::outcomeFromName(*a.outcome);
        if (!filter.outcome) {
            err("--outcome: \"" + *a.outcome + "\" is not one of done, failed, declined, interrupted");
            return false;
        }
    }
    for (const auto& [name, value, into] : {std::tuple{"--since", &a.since, &filter.since},
                                           std::tuple{"--until", &a.until, &filter.until}}) {
        if (!*value)
            continue;
        if (!journal::isDateText(**value)) {
            err(std::string(name) + ": \"" + **value + "\" is not a date YYYY-MM-DD");
            return false;
        }
        *into = **value;
    }
    if (!filter.since.empty() && !filter.until.empty() && filter.since > filter.until) {
        err("--since " + filter.since + " is after --until " + filter.until);
        return false;
    }
    return true;
}

// "2026-12-09T10:15:30.123+03:00" as a table shows it: "2026-12-09 10:15:30".
std::string shortTime(const std::string& stamp) {
    if (stamp.size() < 19)
        return stamp;
    std::string t = stamp.substr(0, 19);
    t[10] = ' ';
    return t;
}

size_t width(const std::string& utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string firmwareText(const journal::JobRecord& r) {
    if (r.firmwareAfter.empty())
        return r.firmwareBefore;
    return (r.firmwareBefore.empty() ? "?" : r.firmwareBefore) + " > " + r.firmwareAfter;
}

std::string serialText(const journal::JobRecord& r) { return r.serial ? std::to_string(*r.serial) : "-"; }

void printTable(const std::vector<journal::JobRecord>& records) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"started", "serial", "type", "kind", "outcome", "firmware", "port", "user@pc", "id"});
    for (const journal::JobRecord& r : records)
        rows.push_back({shortTime(r.started), serialText(r), r.deviceType.empty() ? "-" : r.deviceType,
                        journal::kindName(r.kind), journal::outcomeName(r.outcome),
                        firmwareText(r).empty() ? "-" : firmwareText(r), r.port.empty() ? "-" : r.port,
                        r.user + "@" + r.pc, r.id.substr(0, 8)});
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], width(visible(row[i], false)));
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            const std::string cell = visible(row[i], false);
            line += cell;
            if (i + 1 < row.size())
                line += std::string(widths[i] - width(cell) + 2, ' ');
        }
        std::fputs((line + "\n").c_str(), stdout);
    }
}

// The workshop server's records when one is set and answers; none (said why
// when it did not answer) to read this PC's.
std::optional<std::vector<journal::JobRecord>> serverRecords(const Args& a, const journal::RecordFilter& filter) {
    const std::string conninfo = journal::journalServer();
    if (a.local || conninfo.empty())
        return std::nullopt;
    journal::ServerJournal server(conninfo);
    std::optional<std::vector<journal::JobRecord>> records = server.list(filter);
    if (!records)
        err(server.problem() + " Записи этого компьютера:");
    return records;
}

int listRecords(const Args& a, journal::JournalStore& store) {
    journal::RecordFilter filter;
    if (!readFilter(a, filter))
        return kUsage;
    if (std::optional<std::vector<journal::JobRecord>> fromServer = serverRecords(a, filter)) {
        if (a.csv) {
            journal::RecordCsv csv(std::cout, journal::CsvStyle::Rfc4180);
            for (const journal::JobRecord& r : *fromServer)
                csv.add(r);
            std::cout.flush();
        } else if (fromServer->empty()) {
            err("Записей нет.");
        } else {
            printTable(*fromServer);
        }
        return kOk;
    }
    if (a.csv) {
        // Straight to stdout, one record at a time: a large journal needs no memory for it.
        journal::RecordCsv csv(std::cout, journal::CsvStyle::Rfc4180);
        const bool read = store.forEach(filter, [&](const journal::JobRecord& r) { csv.add(r); });
        std::cout.flush();
        if (!read) {
            err(store.problem());
            return kFailed;
        }
        return kOk;
    }
    std::vector<journal::JobRecord> records;
    if (!store.forEach(filter, [&](const journal::JobRecord& r) { records.push_back(r); })) {
        err(store.problem());
        return kFailed;
    }
    if (records.empty()) {
        err("Записей нет.");
        return kOk;
    }
    printTable(records);
    return kOk;
}

// The record of id, or of the one record whose id begins so; none (said why) otherwise.
std::optional<journal::JobRecord> findRecord(const Args& a, journal::JournalStore& store, const std::string& id) {
    if (std::optional<journal::JobRecord> whole = store.find(id))
        return whole;
    // Another PC's record: on the workshop's server.
    if (const std::string conninfo = journal::journalServer(); !a.local && !conninfo.empty()) {
        journal::ServerJournal server(conninfo);
        if (std::optional<journal::JobRecord> there = server.find(id))
            return there;
        if (!server.problem().empty())
            err(server.problem());
        else if (id.size() < 36) {
            // A beginning of an id: the server's records are searched for it too.
            if (std::optional<std::vector<journal::JobRecord>> all = server.list({})) {
                std::vector<std::string> matches;
                for (const journal::JobRecord& r : *all)
                    if (r.id.compare(0, id.size(), id) == 0)
                        matches.push_back(r.id);
                if (matches.size() == 1)
                    if (std::optional<journal::JobRecord> found = server.find(matches[0]))
                        return found;
            }
        }
    }
    std::string lower = id;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::vector<std::string> matches;
    if (lower.size() >= 4 && store.forEach({}, [&](const journal::JobRecord& r) {
            if (r.id.compare(0, lower.size(), lower) == 0)
                matches.push_back(r.id);
        })) {
        if (matches.size() == 1)
            if (std::optional<journal::JobRecord> found = store.find(matches[0]))
                return found;
        if (matches.size() > 1) {
            err("Запись " + id + " не однозначна: подходят " + std::to_string(matches.size()) + " записей.");
            return std::nullopt;
        }
    }
    const std::string problem = store.problem();
    err(problem.empty() ? "Записи " + id + " в журнале нет." : problem);
    return std::nullopt;
}

void line(const char* name, const std::string& value) {
    if (!value.empty())
        std::fputs((std::string(name) + ": " + visible(value, false) + "\n").c_str(), stdout);
}

int showRecord(const Args& a, journal::JournalStore& store, const std::string& id) {
    const std::optional<journal::JobRecord> found = findRecord(a, store, id);
    if (!found)
        return kFailed;
    const journal::JobRecord& r = *found;
    line("id", r.id);
    line("kind", journal::kindName(r.kind));
    line("outcome", journal::outcomeName(r.outcome));
    if (r.code != 0)
        line("code", std::to_string(r.code));
    line("reason", r.reason);
    line("started", r.started);
    line("ended", r.ended.empty() ? "-" : r.ended);
    line("pc", r.pc);
    line("user", r.user);
    line("program", r.program + (r.version.empty() ? "" : " " + r.version));
    line("port", r.port);
    line("serial", serialText(r));
    line("type", r.deviceType);
    line("firmware before", r.firmwareBefore);
    line("firmware after", r.firmwareAfter);
    line("series", r.seriesId);
    line("refused by the server", r.refused);
    if (r.unitNumber)
        line("unit", std::to_string(*r.unitNumber));
    if (!r.changes.empty()) {
        std::fputs("changes:\n", stdout);
        for (const journal::ChangeEntry& c : r.changes) {
            std::string item = "  " + c.key + ": " + c.from + " > " + c.to;
            if (c.leftOut)
                item += " (left out: the controller kept its value)";
            if (c.notKept)
                item += " (not kept: the controller has " + c.keptValue + ")";
            std::fputs((visible(item, false) + "\n").c_str(), stdout);
        }
    }
    if (!r.backupText.empty()) {
        line("backup", r.backupFile.empty() ? "-" : r.backupFile);
        line("backup size", std::to_string(r.backupText.size()) + " bytes (z58ctl journal backup " + r.id.substr(0, 8) +
                                " FILE writes it)");
    }
    return kOk;
}

int writeBackup(const Args& a, journal::JournalStore& store, const std::string& id, const std::string& path) {
    const std::optional<journal::JobRecord> found = findRecord(a, store, id);
    if (!found)
        return kFailed;
    if (found->backupText.empty()) {
        err("Запись " + found->id + " не содержит резервной копии настроек.");
        return kFailed;
    }
    // The owner's PIN and phone numbers are in it: for this user only.
    return fileOperation([&] { writeSettingsFile(path, found->backupText, FileAccess::OwnerOnly); }) ? kOk : kFailed;
}

int serverCommand(const Args& a) {
    if (a.positional.size() == 1 && !a.off) {
        const std::string kept = journal::keptJournalServer(), used = journal::journalServer();
        std::fputs(((kept.empty() ? std::string("(none)") : kept) + "\n").c_str(), stdout);
        if (used != kept)
            err(std::string(journal::kServerEnvironment) + " overrides it: " + used);
        return kOk;
    }
    if (a.off) {
        if (a.positional.size() != 1) {
            err(std::string("usage: ") + kUsageText);
            return kUsage;
        }
        return fileOperation([] { journal::keepJournalServer({}); }) ? kOk : kFailed;
    }
    const std::string conninfo = a.positional[1];
    if (const std::string bad = journal::ServerJournal::parseProblem(conninfo); !bad.empty()) {
        err("Строка подключения неверна: " + bad);
        return kUsage;
    }
    if (journal::ServerJournal::holdsPassword(conninfo)) {
        err("Пароль в настройках программы не хранится: уберите password= из строки и запишите его в файл "
            "паролей libpq (~/.pgpass, PGPASSFILE или passfile=).");
        return kUsage;
    }
    if (!fileOperation([&] { journal::keepJournalServer(conninfo); }))
        return kFailed;
    if (const std::string warning = journal::ServerJournal::securityWarning(conninfo); !warning.empty())
        err(warning);
    journal::ServerJournal server(conninfo);
    if (!server.connect()) {
        err(server.problem() + " Строка сохранена: записи ждут, пока сервер не ответит.");
        return kFailed;
    }
    std::fputs("Сервер журнала отвечает.\n", stdout);
    return kOk;
}

int syncCommand(journal::JournalStore& store) {
    const std::string conninfo = journal::journalServer();
    const std::size_t waiting = store.waitingCount().value_or(0);
    if (conninfo.empty()) {
        std::fputs("Отправлено: 0\n", stdout);
        if (waiting == 0)
            return kOk;
        err("Ждут отправки: " + std::to_string(waiting) + ": сервер журнала не задан (z58ctl journal server CONNINFO).");
        return kFailed;
    }
    journal::ServerJournal server(conninfo);
    const journal::SyncPass pass = journal::syncWaiting(store, server);
    std::fputs(("Отправлено: " + std::to_string(pass.sent) + "\n").c_str(), stdout);
    if (pass.waiting == 0 && pass.refused == 0)
        return kOk;
    if (pass.refused)
        err("Сервер не принял записей: " + std::to_string(pass.refused) + ".");
    err("Ждут отправки: " + std::to_string(pass.waiting) + (pass.problem.empty() ? "." : ": " + pass.problem));
    return kFailed;
}

} // namespace

int journalCommand(const Args& a) {
    const std::string sub = a.positional.empty() ? std::string() : a.positional[0];
    const bool filtered = a.serial || a.kind || a.outcome || a.since || a.until || a.csv;
    if (sub == "server" && a.positional.size() <= 2 && !filtered)
        return serverCommand(a);
    if ((sub == "show" && a.positional.size() != 2) || (sub == "backup" && a.positional.size() != 3) ||
        (sub == "sync" && a.positional.size() != 1) ||
        (sub != "show" && sub != "backup" && sub != "sync" && !sub.empty()) || (!sub.empty() && filtered)) {
        err(std::string("usage: ") + kUsageText);
        return kUsage;
    }
    journal::JournalStore store;
    if (store.access() == journal::JournalAccess::Unavailable) {
        err(store.problem());
        return kFailed;
    }
    if (sub == "show")
        return showRecord(a, store, a.positional[1]);
    if (sub == "backup")
        return writeBackup(a, store, a.positional[1], a.positional[2]);
    if (sub == "sync")
        return syncCommand(store);
    return listRecords(a, store);
}

} // namespace cli
