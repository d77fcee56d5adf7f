#include "SupportReport.h"

#include "Cp1251.h"
#include "DataFolder.h"
#include "OwnerValues.h"
#include "ResultCode.h"

#include <cstdio>
#include <ctime>

#ifndef Z58_VERSION
#define Z58_VERSION "unknown"
#endif
#ifndef Z58_BUILD
#define Z58_BUILD "unknown"
#endif

namespace jobs {

std::string programVersion() { return Z58_VERSION; }
std::string programBuild() { return Z58_BUILD; }

namespace {

// Length of the UTF-8 sequence at s[i], 0 when it is not one.
size_t utf8Length(std::string_view s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 0;
    return n;
}

std::string hex(const std::vector<unsigned char>& bytes) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, "%02X", bytes[i]);
        if (i)
            out += ' ';
        out += b;
    }
    return out;
}

std::string timeText(std::int64_t ms, bool withMs) {
    const std::tm tm = localTime(static_cast<std::time_t>(ms / 1000));
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    std::string t = buf;
    if (withMs) {
        char b[8];
        std::snprintf(b, sizeof b, ".%03d", static_cast<int>(ms % 1000));
        t += b;
    }
    return t;
}

struct Page {
    std::string html;
    void section(const std::string& title) { html += "<h2>" + htmlText(title) + "</h2>\n"; }
    void para(const std::string& text, const char* cls = nullptr) {
        html += cls ? "<p class=\"" + std::string(cls) + "\">" : std::string("<p>");
        html += htmlText(text) + "</p>\n";
    }
    void row(const std::vector<std::string>& cells, bool head = false) {
        const char* tag = head ? "th" : "td";
        html += "<tr>";
        for (const std::string& c : cells)
            html += "<" + std::string(tag) + ">" + htmlText(c) + "</" + tag + ">";
        html += "</tr>\n";
    }
    void pairs(const std::vector<std::pair<std::string, std::string>>& items) {
        html += "<table class=\"facts\">\n";
        for (const auto& [k, v] : items)
            html += "<tr><th>" + htmlText(k) + "</th><td>" + htmlText(v) + "</td></tr>\n";
        html += "</table>\n";
    }
};

const char kStyle[] =
    "body{font-family:sans-serif;margin:2em;max-width:70em;color:#222}"
    "h1{font-size:1.5em}h2{font-size:1.15em;margin-top:1.6em;border-bottom:1px solid #ccc}"
    "table{border-collapse:collapse;margin:.4em 0}td,th{border:1px solid #ccc;padding:.2em .5em;text-align:left;"
    "vertical-align:top}th{background:#f2f2f2}table.facts th{width:16em}"
    ".note{background:#eef6ee;border:1px solid #9c9;padding:.6em}.missing{color:#a00}"
    "pre{background:#f7f7f7;border:1px solid #ddd;padding:.6em;white-space:pre-wrap}";

} // namespace

std::string htmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        const size_t n = utf8Length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD
            ++i;
            continue;
        }
        if (n == 1) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            case '\n':
            case '\t': out += c; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    out += "\xEF\xBF\xBD";
                else
                    out += c;
            }
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

std::string supportReportHtml(const ReportFacts& f, const ParameterList& model) {
    const ControllerFacts& c = f.controller;
    std::vector<std::string> texts;
    if (c.settings)
        texts.push_back(*c.settings);
    const OwnerMask mask(model, texts);
    Page p;
    p.html = "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
             "<title>Отчёт для поддержки Z58</title>\n<style>" +
             std::string(kStyle) + "</style>\n</head>\n<body>\n<h1>Отчёт для поддержки Z58</h1>\n";
    p.para("Составлен " + timeText(f.madeMs, false) + " программой " + f.madeBy + ".");
    p.para("Этот отчёт никуда не отправлен: он только сохранён в этот файл. Передайте его в поддержку сами, "
           "если нужно. PIN-код и номера телефонов владельца в нём скрыты.",
           "note");

    p.section("Программа");
    std::vector<std::pair<std::string, std::string>> program{
        {"Версия", f.version}, {"Сборка", f.build}, {"Система", f.system}};
    if (!f.qt.empty())
        program.emplace_back("Qt", f.qt);
    p.pairs(program);

    p.section("Порт");
    p.pairs({{"Запомненный порт", f.rememberedPort.empty() ? "(не запомнен)" : f.rememberedPort},
             {"Где хранится", f.portKeptAt}});
    p.html += "<table>\n";
    p.row({"Имя", "Устройство", "USB", "Серийный номер USB", "Описание"}, true);
    for (const PresentPort& port : f.ports)
        p.row({port.name.empty() ? "-" : port.name, port.device, usbIds(port), port.serial.empty() ? "-" : port.serial,
               port.description});
    p.html += "</table>\n";
    if (f.ports.empty())
        p.para("Последовательных портов нет.", "missing");
    p.html += "<h3>Проверки порта</h3>\n<pre>";
    for (const std::string& line : f.doctor)
        p.html += htmlText(line) + "\n";
    p.html += "</pre>\n";

    p.section("Контроллер");
    if (!c.answered) {
        p.para("Контроллер не ответил: " + c.noAnswer + ". Остальное в отчёте собрано без него.", "missing");
    } else {
        std::vector<std::pair<std::string, std::string>> device{
            {"Тип устройства", c.type}, {"Версия прошивки", c.version}, {"Дата сборки прошивки", c.date}};
        device.emplace_back("Серийный номер", c.serial ? std::to_string(static_cast<std::int32_t>(*c.serial)) : "(нет ответа)");
        device.emplace_back("Диагностика (24 байта)", c.diagnostics.empty() ? "(нет ответа)" : hex(c.diagnostics));
        p.pairs(device);
        for (const std::string& failure : c.failures)
            p.para(failure, "missing");
    }

    p.section("Настройки контроллера");
    if (!c.settings) {
        p.para(c.answered ? "Настройки не прочитаны." : "Контроллер не ответил.", "missing");
    } else {
        p.html += "<table>\n";
        p.row({"Ключ", "Параметр", "Значение"}, true);
        forEachSetting(*c.settings, [&](std::string_view key, std::string_view value) {
            const int i = model.IndexOfKey(key);
            const std::string name = i >= 0 ? cp1251::toUtf8(model.parameters()[static_cast<size_t>(i)].name) : "";
            const std::string shown = isOwnerKey(key) ? maskOwnerValue(key, value)
                                                      : mask.apply(cp1251::toUtf8(std::string(value)));
            p.row({cp1251::toUtf8(std::string(key)), name, shown});
        });
        p.html += "</table>\n";
    }

    p.section("Журнал главного окна");
    if (!f.log) {
        p.para("Нет: отчёт составлен без окна программы (" + f.madeBy + ").");
    } else {
        p.html += "<pre>";
        for (const std::string& line : *f.log)
            p.html += htmlText(mask.apply(line)) + "\n";
        p.html += "</pre>\n";
    }

    p.section("Последние обмены с контроллером");
    if (f.traceTotal > f.trace.size())
        p.para("Показаны последние " + std::to_string(f.trace.size()) + " из " + std::to_string(f.traceTotal) + ".");
    if (f.trace.empty()) {
        p.para("Обменов не было.");
    } else {
        p.html += "<table>\n";
        p.row({"Время", "Порт", "Запрос", "Ответ", "Результат", "Байт отправлено", "Байт принято", "Длительность, мс"},
              true);
        for (const TraceEntry& e : f.trace)
            p.row({timeText(e.startedMs, true), e.port, messageTypeName(e.request),
                   e.reply < 0 ? "(нет)" : messageTypeName(e.reply),
                   std::to_string(e.result) + " " + result::describe(e.result), std::to_string(e.bytesOut),
                   std::to_string(e.bytesIn), std::to_string(e.durationMs)});
        p.html += "</table>\n";
    }
    p.html += "</body>\n</html>\n";
    return p.html;
}

} // namespace jobs
