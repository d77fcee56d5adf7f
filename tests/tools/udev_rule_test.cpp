// The udev rule the package installs: every rule line must be one udev accepts,
// and the commented ModemManager template must become one when filled in.
// udevadm verify does this where systemd has it; Debian 12's does not.
// GCC 12 warns inside <regex> when sanitizers are on (a false positive in
// libstdc++'s automaton, not in this file).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines(const char* path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// "" when the line is a valid rule, else what is wrong with it.
std::string ruleError(const std::string& line) {
    static const std::set<std::string> matchKeys = {"ACTION", "SUBSYSTEM", "SUBSYSTEMS", "KERNEL", "KERNELS", "DRIVER",
                                                    "DRIVERS", "ATTR", "ATTRS", "ENV", "TAG", "DEVPATH", "NAME"};
    static const std::set<std::string> assignKeys = {"MODE", "GROUP", "OWNER", "ENV", "SYMLINK", "TAG", "RUN", "NAME"};
    static const std::regex pair(R"(^([A-Z]+)(\{[A-Za-z0-9_]+\})?(==|!=|\+=|-=|:=|=)\"([^\"]*)\"$)");
    bool match = false, assign = false;
    size_t start = 0;
    while (start <= line.size()) {
        size_t end = line.find(", ", start);
        const std::string token = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::smatch m;
        if (!std::regex_match(token, m, pair))
            return "not KEY op \"value\": " + token;
        const bool isMatch = m[3] == "==" || m[3] == "!=";
        if (!(isMatch ? matchKeys : assignKeys).count(m[1]))
            return "key not allowed here: " + token;
        if ((m[1] == "ATTR" || m[1] == "ATTRS" || m[1] == "ENV") && !m[2].matched)
            return "needs {name}: " + token;
        if (m[1] == "MODE" && !std::regex_match(m[4].str(), std::regex("0[0-7]{3}")))
            return "mode not octal: " + token;
        (isMatch ? match : assign) = true;
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    if (!match || !assign)
        return "a rule needs a match and an assignment";
    return {};
}

TEST(udev_rule, every_rule_line_parses) {
    int rules = 0;
    for (const std::string& line : lines(Z58_UDEV_RULE)) {
        if (line.empty() || line[0] == '#')
            continue;
        ++rules;
        EXPECT_EQ(ruleError(line), "") << line;
    }
    EXPECT_EQ(rules, 2);
}

TEST(udev_rule, modem_manager_template_is_a_rule_once_filled_in) {
    int templates = 0;
    for (std::string line : lines(Z58_UDEV_RULE)) {
        if (line.rfind("#SUBSYSTEM", 0) != 0)
            continue;
        ++templates;
        line = std::regex_replace(line.substr(1), std::regex("VVVV"), "1d50");
        line = std::regex_replace(line, std::regex("PPPP"), "6018");
        EXPECT_EQ(ruleError(line), "") << line;
        EXPECT_NE(line.find("ENV{ID_MM_DEVICE_IGNORE}=\"1\""), std::string::npos);
    }
    EXPECT_EQ(templates, 1);
}

TEST(udev_rule, checker_refuses_what_udev_refuses) {
    EXPECT_NE(ruleError(R"(SUBSYSTEM=="tty" MODE="0660")"), "") << "missing comma";
    EXPECT_NE(ruleError(R"(SUBSYSTEM=="tty", MODE="660x")"), "");
    EXPECT_NE(ruleError(R"(SUBSYSTEM=="tty", ATTRS=="x")"), "");
    EXPECT_NE(ruleError(R"(KERNEL=="ttyACM*")"), "") << "matches only";
    EXPECT_EQ(ruleError(R"(KERNEL=="ttyACM*", GROUP="dialout")"), "");
}

} // namespace
