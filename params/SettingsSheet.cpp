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
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Настройки контроллера Z58</title>\n<style>\n"
        "body { font-family: Verdana, sans-serif; font-size: 10pt; margin: 2em; }\n"
        "table { border-collapse: collapse; width: 100%; margin-bottom: 1.5em; }\n"
        "th, td { border: 1px solid #888; padding: 3px 6px; text-align: left; vertical-align: top; }\n"
        "th { background: #eee; }\n"
        "td.sms { font-family: monospace; white-space: nowrap; }\n"
        "tr.changed td.value { font-weight: bold; }\n"
        "@media print { h2 { break-after: avoid; } tr { break-inside: avoid; } }\n"
        "</style>\n</head>\n<body>\n<h1>Настройки контроллера Z58</h1>\n";
    if (!subtitle.empty())
        page += "<p>" + escaped(subtitle) + "</p>\n";
    page += "<p>Жирным выделены значения, отличные от значений по умолчанию.</p>\n";
    for (const ParameterGroup& group : model.groups()) {
        page += "<h2>" + html(group.name) + "</h2>\n<table>\n"
                "<tr><th>Параметр</th><th>Значение</th><th>По умолчанию</th><th>SMS команда</th></tr>\n";
        for (const Parameter& p : model.parameters()) {
            if (p.group != group.name)
                continue;
            page += std::string(p.IsDefault() ? "<tr>" : "<tr class=\"changed\">") + "<td>" + html(p.name) +
                    "</td><td class=\"value\">" + html(valueWithItem(model, p.key, p.value)) + "</td><td>" +
                    html(valueWithItem(model, p.key, p.defaultValue)) + "</td><td class=\"sms\">" +
                    html(SmsCommandText(model, p, p.value)) + "</td></tr>\n";
        }
        page += "</table>\n";
    }
    page += "</body>\n</html>\n";
    return page;
}
