#include "RecordCsv.h"

#include "FileReplace.h"

#include <sstream>
#include <stdexcept>

namespace journal {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kLineEnd[] = "\r\n";
constexpr char kItemSeparator = '|';
constexpr char kExcelSeparator = ';';
// Excel takes a cell that starts so as a formula: a value from a controller
// or a user must not run as one.
constexpr char kFormulaStarts[] = "=+-@\t\r";
constexpr char kTextMark = '\'';

void escaped(std::string& out, const std::string& value) {
    for (char c : value) {
        if (c == '\\' || c == '|' || c == ':' || c == '>' || c == '=')
            out += '\\';
        out += c;
    }
}

} // namespace

std::string changesField(const std::vector<ChangeEntry>& changes) {
    std::string out;
    for (const ChangeEntry& c : changes) {
        if (!out.empty())
            out += kItemSeparator;
        escaped(out, c.key);
        out += ':';
        escaped(out, c.from);
        out += '>';
        escaped(out, c.to);
        if (c.leftOut)
            out += ":kept";
        if (c.notKept) {
            out += ":not-kept=";
            escaped(out, c.keptValue);
        }
    }
    return out;
}

namespace {

// Splits at every sep not written as "\sep"; the pieces keep their escapes.
std::vector<std::string> splitEscaped(const std::string& text, char sep, size_t most = std::string::npos) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            parts.back() += text.substr(i, 2);
            ++i;
        } else if (text[i] == sep && parts.size() < most) {
            parts.emplace_back();
        } else {
            parts.back() += text[i];
        }
    }
    return parts;
}

std::optional<std::string> unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            if (++i == text.size())
                return std::nullopt;
        } else if (std::string("|:>=").find(text[i]) != std::string::npos) {
            return std::nullopt;
        }
        out += text[i];
    }
    return out;
}

} // namespace

std::optional<std::vector<ChangeEntry>> parseChangesField(const std::string& field) {
    std::vector<ChangeEntry> out;
    if (field.empty())
        return out;
    for (const std::string& item : splitEscaped(field, kItemSeparator)) {
        const std::vector<std::string> parts = splitEscaped(item, ':');
        if (parts.size() < 2 || parts.size() > 4)
            return std::nullopt;
        const std::vector<std::string> fromTo = splitEscaped(parts[1], '>');
        ChangeEntry c;
        std::optional<std::string> key = unescaped(parts[0]);
        if (fromTo.size() != 2 || !key)
            return std::nullopt;
        std::optional<std::string> from = unescaped(fromTo[0]), to = unescaped(fromTo[1]);
        if (!from || !to)
            return std::nullopt;
        c.key = *key;
        c.from = *from;
        c.to = *to;
        for (size_t i = 2; i < parts.size(); ++i) {
            if (parts[i] == "kept" && !c.leftOut && !c.notKept) {
                c.leftOut = true;
                continue;
            }
            const std::vector<std::string> kept = splitEscaped(parts[i], '=', 2);
            std::optional<std::string> value = kept.size() == 2 ? unescaped(kept[1]) : std::nullopt;
            if (kept[0] != "not-kept" || !value || c.notKept)
                return std::nullopt;
            c.notKept = true;
            c.keptValue = *value;
        }
        out.push_back(std::move(c));
    }
    return out;
}

RecordCsv::RecordCsv(std::ostream& out, CsvStyle style)
    : out_(out), style_(style), separator_(style == CsvStyle::ExcelRussian ? kExcelSeparator : ',') {
    std::string header = kCsvHeader;
    if (style_ == CsvStyle::ExcelRussian) {
        for (char& c : header)
            if (c == ',')
                c = separator_;
        out_ << kUtf8Bom;
    }
    out_ << header << kLineEnd;
}

void RecordCsv::field(std::string& line, const std::string& value, bool text) const {
    const bool guard = text && style_ == CsvStyle::ExcelRussian && !value.empty() &&
                       std::string(kFormulaStarts).find(value[0]) != std::string::npos;
    const bool quote = guard || value.find_first_of(std::string("\"\r\n") + separator_) != std::string::npos;
    if (!quote) {
        line += value;
        return;
    }
    line += '"';
    if (guard)
        line += kTextMark;
    for (char c : value) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

void RecordCsv::add(const JobRecord& r) {
    std::string line;
    line.reserve(256);
    const auto put = [&](const std::string& value, bool text) {
        if (!line.empty())
            line += separator_;
        field(line, value, text);
    };
    // The id is never empty, so the first separator is always placed right.
    put(r.id, false);
    put(r.started, false);
    put(r.ended, false);
    put(r.pc, true);
    put(r.user, true);
    put(r.version.empty() ? r.program : r.program + " " + r.version, true);
    put(r.port, true);
    put(r.serial ? std::to_string(*r.serial) : std::string(), false);
    put(r.deviceType, true);
    put(r.firmwareBefore, true);
    put(r.firmwareAfter, true);
    put(kindName(r.kind), false);
    put(outcomeName(r.outcome), false);
    put(r.code != 0 ? std::to_string(r.code) : std::string(), false);
    put(r.reason, true);
    put(changesField(r.changes), true);
    line += kLineEnd;
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));
}

std::string recordsCsv(const std::vector<JobRecord>& records, CsvStyle style) {
    std::ostringstream out;
    RecordCsv csv(out, style);
    for (const JobRecord& r : records)
        csv.add(r);
    return out.str();
}

void exportCsv(JournalStore& store, const RecordFilter& filter, const std::string& path, CsvStyle style) {
    exportCsv(
        [&](const std::function<bool(const JobRecord&)>& each, std::string& problem) {
            if (store.forEach(filter, [&](const JobRecord& r) { each(r); }))
                return true;
            problem = store.problem();
            return false;
        },
        path, style);
}

void exportCsv(const RecordSource& source, const std::string& path, CsvStyle style) {
    // Written on in pieces this large: few writes, little memory.
    constexpr std::streamoff kPiece = 64 * 1024;
    replaceFileStreamed(path, [&](const ContentWriter& write) {
        std::ostringstream out;
        const auto hand = [&] {
            const std::string piece = out.str();
            write(piece.data(), piece.size());
            out.str({});
        };
        RecordCsv csv(out, style);
        std::string problem;
        const bool read = source(
            [&](const JobRecord& r) {
                csv.add(r);
                if (out.tellp() >= kPiece)
                    hand();
                return true;
            },
            problem);
        if (!read)
            throw std::runtime_error(problem.empty() ? std::string("Записи журнала не прочитаны.") : problem);
        hand();
    });
}

} // namespace journal
