#pragma once
// How the service journal's records read in the windows: the Russian names of
// the kinds and outcomes, times as the workplace's clock showed them, serial
// numbers as the main window's log prints them, and the log line of what the
// journal knows of one controller.
#include "JobRecord.h"
#include "JournalStore.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

QString kindText(journal::JobKind kind);
QString outcomeText(journal::JobOutcome outcome);

// "2026-12-09 10:15:30" (without seconds: "2026-12-09 10:15") of a record's
// time: the local time it was taken at. A text not of that form as it stands.
QString timeText(const std::string& timestamp, bool seconds = true);

// As the main window's log prints it: a signed 32-bit number.
QString serialText(std::uint32_t serial);
// A serial number typed: decimal, as the journal keeps it (0..4294967295) or
// signed as the log prints it (-2147483648..-1); spaces around are ignored.
// Empty text: none. False when the text is neither.
bool parseSerial(const QString& text, std::optional<std::uint32_t>& serial);

// "1 запись", "3 записи", "5 записей".
QString recordCount(std::size_t count);

// The main window's log line after a serial number was read: "Журнал: 3 записи,
// последняя 2026-12-09 10:15, Прошивка, выполнено", or that there are none; when
// the journal could not be read, why (problem).
QString historyLine(const std::optional<journal::SerialHistory>& history, const std::string& problem);

// Whose records a history line counts when a workshop server is set.
enum class HistorySource {
    Workshop,        // the server's, of every PC: "Журнал мастерской: …"
    ThisPcInstead,   // the server did not answer in time: "Журнал этого компьютера (сервер не ответил): …"
};
QString historyLine(const std::optional<journal::SerialHistory>& history, const std::string& problem, HistorySource source);

// The journal window's line when the server's records cannot be shown: why
// (the server journal's problem), that this PC's are shown instead, how many
// of them wait to be sent and how many the server refused (set aside; said
// only when there are any); a count that could not be read is left out.
QString serverFallbackLine(const std::string& problem, std::optional<std::size_t> waiting,
                           std::optional<std::size_t> setAside = std::nullopt);

// After the PC's name of a record the server refused (it is not on the server).
constexpr const char kRefusedMark[] = " — не принята сервером";
// Why the server would not take a record (its reason, from the server).
QString refusedText(const std::string& reason);

// A record in full for the journal window: the job, when, which controller,
// the firmware, where and by whom, why it failed, the change list (with the
// parameters' names that name() gives, empty: the key alone), the backup, and
// why the workshop server would not take it when it was set aside.
QString recordDetails(const journal::JobRecord& record, const std::function<QString(const std::string& key)>& name);
