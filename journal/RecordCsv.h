#pragma once
// Records as CSV, one line each: RFC 4180 (",", UTF-8 without a byte-order
// mark, CR LF), or the same rows for Excel in a Russian locale (";", with the
// byte-order mark, so Excel opens it as columns and reads UTF-8).
#include "JobRecord.h"
#include "JournalStore.h"

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace journal {

enum class CsvStyle { Rfc4180, ExcelRussian };

// The header's columns, in order.
constexpr const char kCsvHeader[] =
    "id,started,ended,pc,user,program,port,serial,type,firmware_before,firmware_after,kind,outcome,code,reason,changes";

// A change list in one field: "KEY:from>to" items joined by "|"; a row the user
// left out ends ":kept", a value the controller did not keep ":not-kept=VALUE".
// A "\", "|", ":", ">" or "=" inside a key or value is written with "\" before it.
std::string changesField(const std::vector<ChangeEntry>& changes);
// The change list back from such a field (a workshop server keeps it so);
// none when the field is not one.
std::optional<std::vector<ChangeEntry>> parseChangesField(const std::string& field);

class RecordCsv {
public:
    // Writes the byte-order mark (Excel) and the header line.
    RecordCsv(std::ostream& out, CsvStyle style);
    void add(const JobRecord& record);

private:
    void field(std::string& line, const std::string& value, bool text) const;

    std::ostream& out_;
    CsvStyle style_;
    char separator_;
};

std::string recordsCsv(const std::vector<JobRecord>& records, CsvStyle style);

// Writes the records the filter selects, newest first, to the file at path
// (UTF-8); an old file there is replaced only once the new one is complete.
// Throws std::runtime_error with a message for the user.
void exportCsv(JournalStore& store, const RecordFilter& filter, const std::string& path, CsvStyle style);

// Hands each record to each, in order, until each returns false; false when
// they could not all be read, with why in problem.
using RecordSource = std::function<bool(const std::function<bool(const JobRecord&)>& each, std::string& problem)>;
// The same for the records a source gives, written to the file as they come,
// so a journal of any size is never held whole; the old file stays when the
// source fails.
void exportCsv(const RecordSource& source, const std::string& path, CsvStyle style);

} // namespace journal
