// The settings sheet printed by a real browser: Chromium's print-to-PDF, read
// back with poppler's pdfinfo and pdftotext. Linux only (the Windows stage has
// no browser); skipped where the browser or poppler is not installed.
#include "Embedded.h"
#include "ParameterList.h"
#include "RunProgram.h"
#include "SettingsSheet.h"
#include "TempDir.h"
#include "WaitFor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace {

std::string inPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
            return dir + "/" + program;
    return {};
}

struct Word {
    double xMin, yMin, xMax, yMax;
    std::string text;
};

struct Page {
    double width = 0, height = 0;
    std::vector<Word> words;
};

std::string unescapeXml(std::string s) {
    static const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
    for (const auto& [from, to] : entities)
        for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + 1))
            s.replace(at, std::string(from).size(), to);
    return s;
}

// pdftotext -bbox: every page's size and its words with their boxes (points, y down).
std::vector<Page> pagesOf(const std::string& bboxHtml) {
    static const std::regex page(R"re(<page width="([0-9.]+)" height="([0-9.]+)">)re");
    static const std::regex word(R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">(.*)</word>)re");
    std::vector<Page> pages;
    std::stringstream lines(bboxHtml);
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, m, page))
            pages.push_back({std::stod(m[1]), std::stod(m[2]), {}});
        else if (std::regex_search(line, m, word) && !pages.empty())
            pages.back().words.push_back(
                {std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4]), unescapeXml(m[5])});
    }
    return pages;
}

// The words of the topmost line, left to right.
std::string topLine(const Page& p) {
    double top = 1e9;
    for (const Word& w : p.words)
        top = std::min(top, w.yMin);
    std::vector<Word> line;
    for (const Word& w : p.words)
        if (std::fabs(w.yMin - top) < 1)
            line.push_back(w);
    std::sort(line.begin(), line.end(), [](const Word& a, const Word& b) { return a.xMin < b.xMin; });
    std::string text;
    for (const Word& w : line)
        text += (text.empty() ? "" : " ") + w.text;
    return text;
}

// The nearest word above y whose text is text.
const Word* nearestAbove(const Page& p, const std::string& text, double y) {
    const Word* best = nullptr;
    for (const Word& w : p.words)
        if (w.text == text && w.yMin < y && (!best || w.yMin > best->yMin))
            best = &w;
    return best;
}

// The word on the line of y whose text is text.
const Word* onLine(const Page& p, const std::string& text, double y) {
    for (const Word& w : p.words)
        if (w.text == text && std::fabs(w.yMin - y) < 1)
            return &w;
    return nullptr;
}

// A text without spaces wrapped in a cell: the lines that start at the cell's
// left edge below its first one, as long as each goes on with the text.
std::vector<Word> wrappedLines(const Page& p, const Word& first, const std::string& text) {
    std::vector<Word> column;
    for (const Word& w : p.words)
        if (std::fabs(w.xMin - first.xMin) < 1 && w.yMin >= first.yMin)
            column.push_back(w);
    std::sort(column.begin(), column.end(), [](const Word& a, const Word& b) { return a.yMin < b.yMin; });
    std::vector<Word> lines;
    size_t at = 0;
    for (const Word& w : column) {
        if (text.compare(at, w.text.size(), w.text) != 0 || w.text.empty())
            break;
        lines.push_back(w);
        at += w.text.size();
    }
    return lines;
}

std::string joined(const std::vector<Word>& words) {
    std::string s;
    for (const Word& w : words)
        s += w.text;
    return s;
}

} // namespace

TEST(settings_sheet_print, a4_pages_with_the_header_on_each_and_long_texts_wrapped_in_their_cells) {
    const std::string browser = inPath("chromium-headless-shell");
    const std::string pdftotext = inPath("pdftotext"), pdfinfo = inPath("pdfinfo"), timeout = inPath("timeout");
    if (browser.empty() || pdftotext.empty() || pdfinfo.empty())
        GTEST_SKIP() << "chromium-headless-shell or poppler-utils (pdftotext, pdfinfo) is not installed, so the sheet "
                        "is not printed here; ./run test installs both";
    ASSERT_FALSE(timeout.empty());

    // A value far longer than the description allows, as a file can hold, with
    // no space to break at; every piece distinct so a lost line shows.
    std::string value = "*100#";
    for (int i = 0; i < 30; ++i)
        value += "k" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    const std::string command = "Set,Balans=" + value;
    ParameterList model(embeddedText("PARAMETER_LIST"));
    model.ResetToDefaults();
    model.LoadSettingsText("Balans=" + value + "\nAutoStart=99\n");
    const std::string header = "Серийный номер 305419896, 2026-12-08 14:05";

    TempDir dir;
    std::ofstream(dir / "sheet.html", std::ios::binary) << settingsSheetHtml(model, "Файл test.txt", header);
    ScopedEnv home("HOME", dir.str());
    ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    ScopedEnv cache("XDG_CACHE_HOME", dir / "cache");
    // timeout ends the browser's whole process group; the wrapper script alone would leave it running.
    const auto printed = runProgram(timeout, {"--kill-after=5", "90", browser, "--no-sandbox", "--disable-gpu",
                                              "--user-data-dir=" + dir / "profile", "--no-pdf-header-footer",
                                              "--print-to-pdf=" + dir / "sheet.pdf", "file://" + dir / "sheet.html"},
                                    "", std::chrono::seconds(100));
    ASSERT_EQ(printed.exitCode, 0) << printed.err;
    ASSERT_TRUE(std::filesystem::exists(dir / "sheet.pdf")) << printed.err;

    const auto info = runProgram(pdfinfo, {"-f", "1", "-l", "1000", dir / "sheet.pdf"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(info.out, m, std::regex("Pages: +([0-9]+)"))) << info.out;
    const int count = std::stoi(m[1]);
    EXPECT_GT(count, 1) << "the whole model does not fit one page";
    const std::regex a4Size(R"(size: +[0-9.]+ x [0-9.]+ pts \(A4\))");
    const auto a4 = std::distance(std::sregex_iterator(info.out.begin(), info.out.end(), a4Size), std::sregex_iterator());
    EXPECT_EQ(a4, count) << info.out;

    const auto text = runProgram(pdftotext, {"-bbox", dir / "sheet.pdf", "-"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    const std::vector<Page> pages = pagesOf(text.out);
    ASSERT_EQ(static_cast<int>(pages.size()), count);
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_NEAR(pages[i].width, 595.28, 1.0) << "page " << i + 1;
        EXPECT_NEAR(pages[i].height, 841.89, 1.0) << "page " << i + 1;
        EXPECT_EQ(topLine(pages[i]), header) << "page " << i + 1 << " starts with its header";
    }

    // The command and the value, each in its own column, every piece of them
    // there and none across the cell's right border.
    bool found = false;
    for (size_t i = 0; i < pages.size() && !found; ++i) {
        const Page& p = pages[i];
        for (const Word& w : p.words) {
            if (w.text.rfind("Set,Balans=", 0) != 0)
                continue;
            found = true;
            const Word* sms = nearestAbove(p, "SMS", w.yMin);
            ASSERT_TRUE(sms) << "the column headings above the row";
            const Word* valueHeading = onLine(p, "Значение", sms->yMin);
            const Word* defaultHeading = onLine(p, "По", sms->yMin); // По умолчанию
            ASSERT_TRUE(valueHeading && defaultHeading);
            EXPECT_NEAR(w.xMin, sms->xMin, 1.0) << "the command starts in its column";

            const std::vector<Word> commandLines = wrappedLines(p, w, command);
            EXPECT_EQ(joined(commandLines), command) << "the whole command, line after line";
            EXPECT_GT(commandLines.size(), 2u) << "wrapped";
            const double tableRight = p.width - 12 / 25.4 * 72; // the page's right margin
            for (const Word& line : commandLines)
                EXPECT_LT(line.xMax, tableRight) << line.text;

            const Word* valueStart = nullptr;
            for (const Word& v : p.words)
                if (v.text.rfind("*100#", 0) == 0 && std::fabs(v.xMin - valueHeading->xMin) < 1)
                    valueStart = &v;
            ASSERT_TRUE(valueStart) << "the value in the value column";
            const std::vector<Word> valueLines = wrappedLines(p, *valueStart, value);
            EXPECT_EQ(joined(valueLines), value);
            EXPECT_GT(valueLines.size(), 2u) << "wrapped";
            // The next column's text starts a cell padding (6px) right of the border.
            for (const Word& line : valueLines)
                EXPECT_LT(line.xMax, defaultHeading->xMin - 4.5) << line.text;
            break;
        }
    }
    EXPECT_TRUE(found) << "the command is on no page:\n" << text.out;
}
