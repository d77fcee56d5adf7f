#include "SeriesSetting.h"

#include "DataFolder.h"
#include "FileReplace.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

constexpr int kFirstPort = 2;
constexpr int kLastPort = 254;
constexpr int kMaxExpected = 100000;

bool flag(const std::string& value, bool fallback) {
    if (value == "1" || value == "yes")
        return true;
    if (value == "0" || value == "no")
        return false;
    return fallback;
}

// "COM7" (any case) as its number; 0 when it is not one.
int portNumber(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (text.size() < 4 || text.size() > 6 || text.compare(0, 3, "COM") != 0)
        return 0;
    int n = 0;
    for (size_t i = 3; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return 0;
        n = n * 10 + (text[i] - '0');
    }
    return text[3] == '0' || n < kFirstPort || n > kLastPort ? 0 : n;
}

} // namespace

std::string seriesChoicesText(const SeriesChoices& c) {
    std::ostringstream out;
    out << "reference=" << c.reference << "\n"
        << "firmware=" << jobs::firmwarePolicyName(c.firmware) << "\n"
        << "sound=" << (c.sound ? 1 : 0) << "\n"
        << "write-owner=" << (c.writeOwner ? 1 : 0) << "\n"
        << "expected=" << c.expected << "\n"
        << "sheets=" << c.sheets << "\n"
        << "csv=" << c.csv << "\n"
        << "stop-on-failure=" << (c.stopOnFailure ? 1 : 0) << "\n"
        << "ports=" << c.ports << "\n";
    return out.str();
}

SeriesChoices parseSeriesChoices(const std::string& text) {
    SeriesChoices c;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "reference") {
            c.reference = value;
        } else if (key == "firmware") {
            c.firmware = jobs::firmwarePolicyFromName(value).value_or(c.firmware);
        } else if (key == "sound") {
            c.sound = flag(value, c.sound);
        } else if (key == "write-owner") {
            c.writeOwner = flag(value, c.writeOwner);
        } else if (key == "expected") {
            const bool digits = !value.empty() && value.size() <= 6 &&
                                std::all_of(value.begin(), value.end(), [](unsigned char ch) { return std::isdigit(ch); });
            if (digits && std::stoi(value) <= kMaxExpected)
                c.expected = std::stoi(value);
        } else if (key == "sheets") {
            c.sheets = value;
        } else if (key == "csv") {
            c.csv = value;
        } else if (key == "stop-on-failure") {
            c.stopOnFailure = flag(value, c.stopOnFailure);
        } else if (key == "ports") {
            c.ports = value;
        }
    }
    return c;
}

std::string seriesChoicesPath() { return (std::filesystem::u8path(dataFolder()) / "series-setup").u8string(); }

SeriesChoices keptSeriesChoices() {
    std::ifstream in(std::filesystem::u8path(seriesChoicesPath()), std::ios::binary);
    if (!in)
        return {};
    return parseSeriesChoices(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

void keepSeriesChoices(const SeriesChoices& choices) {
    openDataFolder();
    replaceFileContent(seriesChoicesPath(), seriesChoicesText(choices));
}

bool parseSeriesPorts(const std::string& text, std::vector<std::string>& ports, std::string& problem) {
    std::set<int> numbers;
    std::string token;
    std::vector<std::string> tokens;
    for (char ch : text) {
        if (ch == ',' || ch == ';' || std::isspace(static_cast<unsigned char>(ch))) {
            if (!token.empty())
                tokens.push_back(token);
            token.clear();
        } else {
            token += ch;
        }
    }
    if (!token.empty())
        tokens.push_back(token);
    for (const std::string& t : tokens) {
        const size_t dash = t.find('-');
        const int from = portNumber(t.substr(0, dash));
        const int to = dash == std::string::npos ? from : portNumber(t.substr(dash + 1));
        if (from == 0 || to == 0 || to < from) {
            problem = "«" + t + "» — не порт: нужно COMn или COMn-COMm, n от " + std::to_string(kFirstPort) + " до " +
                      std::to_string(kLastPort) + ".";
            return false;
        }
        for (int n = from; n <= to; ++n)
            numbers.insert(n);
    }
    ports.clear();
    for (int n : numbers)
        ports.push_back("COM" + std::to_string(n));
    problem.clear();
    return true;
}
