#include "JournalTexts.h"

#include "DeviceInfo.h"
#include "Timestamp.h"

#include <QStringList>

namespace {

constexpr std::size_t kDateLength = 10;       // "2026-12-09"
constexpr std::size_t kTimeAt = 11;           // after the 'T'
constexpr std::size_t kMinutesLength = 5;     // "10:15"
constexpr std::size_t kSecondsLength = 8;     // "10:15:30"
constexpr int kMaxSerialDigits = 10;          // 4294967295
constexpr long long kLargestSerial = 0xFFFFFFFFll;
constexpr long long kSmallestSigned = -0x80000000ll;

} // namespace

QString kindText(journal::JobKind kind) {
    switch (kind) {
    case journal::JobKind::SettingsRead: return "Чтение настроек";
    case journal::JobKind::SettingsWrite: return "Запись настроек";
    case journal::JobKind::Restore: return "Восстановление";
    case journal::JobKind::Backup: return "Резервная копия";
    case journal::JobKind::Firmware: return "Прошивка";
    case journal::JobKind::Sound: return "Звуки";
    case journal::JobKind::Report: return "Отчёт";
    }
    return QString::fromUtf8(journal::kindName(kind));
}

QString outcomeText(journal::JobOutcome outcome) {
    switch (outcome) {
    case journal::JobOutcome::Done: return "Выполнено";
    case journal::JobOutcome::Failed: return "Ошибка";
    case journal::JobOutcome::Declined: return "Отменено";
    case journal::JobOutcome::Interrupted: return "Прервано";
    }
    return QString::fromUtf8(journal::outcomeName(outcome));
}

QString timeText(const std::string& timestamp, bool seconds) {
    // The text holds the local time of the workplace that wrote it: shown as
    // it is, the dates agree with the journal's date filter.
    if (!journal::timestampMs(timestamp))
        return QString::fromStdString(timestamp);
    return QString::fromStdString(timestamp.substr(0, kDateLength) + " " +
                                  timestamp.substr(kTimeAt, seconds ? kSecondsLength : kMinutesLength));
}

QString serialText(std::uint32_t serial) { return QString::number(static_cast<std::int32_t>(serial)); }

bool parseSerial(const QString& text, std::optional<std::uint32_t>& serial) {
    const QString t = text.trimmed();
    serial.reset();
    if (t.isEmpty())
        return true;
    const bool negative = t.startsWith('-');
    const QString digits = negative ? t.mid(1) : t;
    if (digits.isEmpty() || digits.size() > kMaxSerialDigits)
        return false;
    for (QChar c : digits)
        if (c < '0' || c > '9')
            return false;
    const long long value = negative ? -digits.toLongLong() : digits.toLongLong();
    if (value > kLargestSerial || value < kSmallestSigned || (negative && value == 0))
        return false;
    serial = static_cast<std::uint32_t>(value < 0 ? value + kLargestSerial + 1 : value);
    return true;
}

QString recordCount(std::size_t count) {
    const std::size_t tens = count % 100, ones = count % 10;
    const char* word = "записей";
    if (ones == 1 && tens != 11)
        word = "запись";
    else if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14))
        word = "записи";
    return QString::number(count) + " " + word;
}

namespace {

QString historyOf(const QString& journal, const std::optional<journal::SerialHistory>& history, const std::string& problem) {
    if (!history)
        return QString::fromStdString(problem.empty() ? std::string("Журнал не читается.") : problem);
    if (history->count == 0)
        return journal + ": записей об этом устройстве нет";
    return journal + ": " + recordCount(history->count) + ", последняя " + timeText(history->lastStarted, false) + ", " +
           kindText(history->lastKind) + ", " + outcomeText(history->lastOutcome).toLower();
}

} // namespace

QString historyLine(const std::optional<journal::SerialHistory>& history, const std::string& problem) {
    return historyOf("Журнал", history, problem);
}

QString historyLine(const std::optional<journal::SerialHistory>& history, const std::string& problem, HistorySource source) {
    return historyOf(source == HistorySource::Workshop ? "Журнал мастерской" : "Журнал этого компьютера (сервер не ответил)",
                     history, problem);
}

QString serverFallbackLine(const std::string& problem, std::optional<std::size_t> waiting,
                           std::optional<std::size_t> setAside) {
    QString line = QString::fromStdString(problem.empty() ? std::string("Сервер журнала недоступен.") : problem);
    if (!line.endsWith('.'))
        line += '.';
    line += " Показаны записи этого компьютера";
    if (waiting)
        line += "; ждут отправки на сервер: " + QString::number(*waiting);
    if (setAside && *setAside > 0)
        line += "; не принято сервером: " + QString::number(*setAside);
    return line + ".";
}

namespace {

QString utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

QString quoted(const std::string& value) { return "«" + utf8(value) + "»"; }

} // namespace

QString refusedText(const std::string& reason) {
    return "Сервер журнала не принял запись, она отложена: " + utf8(reason);
}

QString recordDetails(const journal::JobRecord& r, const std::function<QString(const std::string& key)>& name) {
    QStringList lines;
    lines << kindText(r.kind) + ": " + outcomeText(r.outcome).toLower();
    QString when = "Начало: " + timeText(r.started);
    if (!r.ended.empty())
        when += ", конец: " + timeText(r.ended);
    lines << when;
    QStringList parts;
    if (!r.deviceType.empty())
        parts << utf8(deviceTypeName(r.deviceType));
    if (r.serial)
        parts << "серийный номер " + serialText(*r.serial);
    if (!r.port.empty())
        parts << "порт " + utf8(r.port);
    lines << "Устройство: " + (parts.isEmpty() ? QString("не прочитано") : parts.join(", "));
    if (!r.firmwareBefore.empty() || !r.firmwareAfter.empty()) {
        QString firmware = "Прошивка: " + (r.firmwareBefore.empty() ? QString("не прочитана") : utf8(r.firmwareBefore));
        if (!r.firmwareAfter.empty() && r.firmwareAfter != r.firmwareBefore)
            firmware += " → " + (r.firmwareAfter == journal::kNotRead ? QString("не прочитана") : utf8(r.firmwareAfter));
        lines << firmware;
    }
    QString where = "Компьютер: " + utf8(r.pc) + ", пользователь " + utf8(r.user);
    if (!r.program.empty())
        where += ", программа " + utf8(r.version.empty() ? r.program : r.program + " " + r.version);
    lines << where;
    if (!r.seriesId.empty())
        lines << "Серия: " + utf8(r.seriesId) + (r.unitNumber ? ", устройство № " + QString::number(*r.unitNumber) : QString());
    if (!r.reason.empty() || r.code != 0) {
        QString why = "Причина: " + (r.reason.empty() ? QString("не указана") : utf8(r.reason));
        if (r.code != 0)
            why += " (код " + QString::number(r.code) + ")";
        lines << why;
    }
    if (!r.changes.empty()) {
        lines << "Изменения (" + QString::number(r.changes.size()) + "):";
        for (const journal::ChangeEntry& c : r.changes) {
            const QString title = name ? name(c.key) : QString();
            QString line = "    " + (title.isEmpty() ? utf8(c.key) : title + " (" + utf8(c.key) + ")") + ": " +
                           quoted(c.from) + " → " + quoted(c.to);
            if (c.leftOut)
                line += " — не записано, у устройства осталось своё значение";
            if (c.notKept)
                line += " — устройство не сохранило, у него " + quoted(c.keptValue);
            lines << line;
        }
    }
    lines << "Резервная копия: " + (r.backupFile.empty() ? QString("нет") : utf8(r.backupFile));
    if (!r.refused.empty())
        lines << refusedText(r.refused);
    lines << "Запись: " + utf8(r.id);
    return lines.join('\n');
}
