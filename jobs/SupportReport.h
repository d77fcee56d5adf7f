#pragma once
// The page a technician hands to support: what runs where, the port set-up,
// the controller as it answered, its settings with the owner's values masked,
// the window's log and the last exchanges. One self-contained HTML file; every
// text in it is escaped, and nothing of it is sent anywhere.
#include "ExchangeTrace.h"
#include "ParameterList.h"
#include "PortList.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jobs {

struct ControllerFacts {
    bool answered = false;
    std::string noAnswer;             // why not, when it did not answer
    std::string type, version, date;  // UTF-8
    std::optional<std::uint32_t> serial;
    std::vector<unsigned char> diagnostics;
    std::optional<std::string> settings;  // CP1251, as the controller sent it
    std::vector<std::string> failures;    // later questions it did not answer
};

struct ReportFacts {
    std::string version, build;  // of this program
    std::string system, qt;      // qt: empty for z58ctl
    std::string madeBy;          // "Z58 Service Tool" or "z58ctl"
    std::int64_t madeMs = 0;     // wall clock
    std::vector<std::string> doctor;
    std::vector<PresentPort> ports;
    std::string rememberedPort, portKeptAt;
    ControllerFacts controller;
    std::optional<std::vector<std::string>> log;  // the main window's log (UTF-8)
    std::vector<TraceEntry> trace;
    std::uint64_t traceTotal = 0;
};

// The page, UTF-8. The model gives the parameters' captions and the owner
// keys' captions for masking.
std::string supportReportHtml(const ReportFacts& facts, const ParameterList& model);

// Text made safe for HTML: markup characters escaped, control characters and
// bytes that are not UTF-8 replaced.
std::string htmlText(std::string_view text);

// This program's version and how it was built.
std::string programVersion();
std::string programBuild();

} // namespace jobs
