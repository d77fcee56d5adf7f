#include "SettingsSheet.h"

#include "Cp1251.h"
#include "SettingsDiff.h"
#include "ValueCheck.h"

namespace {

// UTF-8 text for HTML, from Windows-1251 or already UTF-8.
std::string escaped(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters from a file or the controller would be invisible or worse.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
                out += "&#xfffd;";
            else
                out += c;
        }
    }
    return out;
}

std::string html(const std::string& cp1251Text) { return escaped(cp1251::toUtf8(cp1251Text)); }

} // namespace

std::string settingsSheetHtml(const ParameterList& model, const std::string& subtitle) {
    return settingsSheetHtml(model, subtitle, {});
}

std::string settingsSheetHtml(const ParameterList& model, const std::string& subtitle, const std::string& pageHeader) {
    // The page header is the head of a table around the whole page: browsers
    // repeat a table's head at the top of every printed page it runs over,
    // and it needs no page margin boxes, which not every browser prints.
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Настройки контроллера Z58</title>\n<style>\n"
        "@page { size: A4; margin: 15mm 12mm 15mm 18mm; }\n"
        "body { font-family: Verdana, sans-serif; font-size: 10pt; margin: 2em; }\n"
        "table { border-collapse: collapse; width: 100%; }\n"
        "table.frame > thead > tr > td, table.frame > tbody > tr > td { padding: 0; border: none; }\n"
        "div.page-header { font-size: 9pt; border-bottom: 1px solid #888; padding-bottom: 2px; margin-bottom: 4mm; }\n"
        "table.params { table-layout: fixed; margin-bottom: 1.5em; }\n"
        "col.name { width: 25%; } col.value { width: 22%; } col.default { width: 21%; } col.sms { width: 32%; }\n"
        // Values and commands come from files and controllers: any length, no
        // spaces; they wrap inside their cells instead of running across the next.
        "table.params th, table.params td { border: 1px solid #888; padding: 3px 6px; text-align: left;"
        " vertical-align: top; overflow-wrap: anywhere; word-break: break-word; }\n"
        "table.params th { background: #eee; -webkit-print-color-adjust: exact; print-color-adjust: exact; }\n"
        "td.sms { font-family: monospace; font-size: 9pt; }\n"
        "tr.changed td.value { font-weight: bold; }\n"
        "@media print { body { margin: 0; font-size: 9pt; } h2 { break-after: avoid; } table.params tr { break-inside: avoid; } }\n"
        "</style>\n</head>\n<body>\n";
    if (!pageHeader.empty())
        page += "<table class=\"frame\">\n<thead><tr><td><div class=\"page-header\">" + escaped(pageHeader) +
                "</div></td></tr></thead>\n<tbody><tr><td>\n";
    page += "<h1>Настройки контроллера Z58</h1>\n";
    if (!subtitle.empty())
        page += "<p>" + escaped(subtitle) + "</p>\n";
    page += "<p>Жирным выделены значения, отличные от значений по умолчанию.</p>\n";
    for (const ParameterGroup& group : model.groups()) {
        page += "<h2>" + html(group.name) + "</h2>\n<table class=\"params\">\n"
                "<colgroup><col class=\"name\"><col class=\"value\"><col class=\"default\"><col class=\"sms\"></colgroup>\n"
                "<thead><tr><th>Параметр</th><th>Значение</th><th>По умолчанию</th><th>SMS команда</th></tr></thead>\n"
                "<tbody>\n";
        for (const Parameter& p : model.parameters()) {
            if (p.group != group.name)
                continue;
            page += std::string(p.IsDefault() ? "<tr>" : "<tr class=\"changed\">") + "<td>" + html(p.name) +
                    "</td><td class=\"value\">" + html(valueWithItem(model, p.key, p.value)) + "</td><td>" +
                    html(valueWithItem(model, p.key, p.defaultValue)) + "</td><td class=\"sms\">" +
                    html(SmsCommandText(model, p, p.value)) + "</td></tr>\n";
        }
        page += "</tbody>\n</table>\n";
    }
    if (!pageHeader.empty())
        page += "</td></tr></tbody>\n</table>\n";
    page += "</body>\n</html>\n";
    return page;
}
