#include "Cp1251.h"
#include "Embedded.h"
#include "NumberText.h"
#include "ValueCheck.h"

#include <gtest/gtest.h>

namespace {
struct Fixture : ::testing::Test {
    ParameterList list{embeddedText("PARAMETER_LIST")};
    void SetUp() override { list.ResetToDefaults(); }
    const Parameter& p(const char* key) { return list.parameter(static_cast<size_t>(list.IndexOfKey(key))); }
    std::string check(const char* key, const std::string& text) {
        CheckResult r = CheckValue(p(key), text);
        return r.ok ? "ok" : r.message;
    }
};
} // namespace

using value_check = Fixture;

TEST_F(value_check, number_limits_and_messages) {
    EXPECT_EQ(check("MicLevel", "0"), "0 - маловато будет.");
    EXPECT_EQ(check("MicLevel", "15"), "15 - многовато будет.");
    EXPECT_EQ(check("MicLevel", "abc"), "abc - не является целым цислом");
    EXPECT_EQ(check("MicLevel", ""), " - не является целым цислом");
    EXPECT_EQ(check("MicLevel", "$A"), "ok");
    EXPECT_EQ(check("MicLevel", "0xE"), "ok");
    EXPECT_EQ(check("MicLevel", "  7"), "ok");
    EXPECT_EQ(check("MicLevel", "7 "), "7  - не является целым цислом");
    EXPECT_EQ(check("TempSens", "-100"), "ok");
    EXPECT_EQ(check("TempSens", "-101"), "-101 - маловато будет.");
    EXPECT_EQ(check("TempSens", "+100"), "ok");
    EXPECT_EQ(check("AccLow", "2147483648"), "2147483648 - не является целым цислом");
    EXPECT_EQ(check("TempSens", "-2147483649"), "-2147483649 - не является целым цислом");
    EXPECT_EQ(check("TempSens", "-2147483648"), "-2147483648 - маловато будет.");
    EXPECT_EQ(check("MicLevel", cp1251::fromUtf8("пять")), "пять - не является целым цислом");
}

TEST_F(value_check, string_lengths) {
    EXPECT_EQ(check("Balans", ""), "ok");
    EXPECT_EQ(check("Balans", "*100"), "Маленькая длинна текста");
    EXPECT_EQ(check("Balans", "*100#"), "ok");
    EXPECT_EQ(check("Balans", "*12345678"), "Превышена длинна текста");
    EXPECT_EQ(check("Balans", cp1251::fromUtf8("ЖЖЖЖЖ")), "ok") << "length counts characters, one byte each";
}

TEST_F(value_check, enum_and_float_pass_unchecked) {
    EXPECT_EQ(check("AutoStart", "zzz"), "ok");
}

TEST_F(value_check, sms_line) {
    list.SetValueByKey("MicLevel", "8");
    EXPECT_EQ(SmsCommandText(list, p("MicLevel"), "8"), "Set,MicLevel=8");
    list.SetValueByKey("PinCod", "1234");
    EXPECT_EQ(SmsCommandText(list, p("AutoStart"), "99"), "Set1234,AutoStart=99");
    EXPECT_EQ(SmsCommandText(list, p("PinCod"), "5678"), "Set1234,PinCod=5678") << "stored PIN after Set, new one after =";
}

TEST(number_text, conversions) {
    EXPECT_EQ(textToInt32("$ff"), 255);
    EXPECT_EQ(textToInt32("X10"), 16);
    EXPECT_EQ(textToInt32("-0x10"), -16);
    EXPECT_EQ(textToInt32("2147483647"), 2147483647);
    EXPECT_FALSE(textToInt32("0x"));
    EXPECT_FALSE(textToInt32("-"));
    EXPECT_FALSE(textToInt32("1.5"));
    EXPECT_FALSE(textToInt32("99999999999999999999"));
    EXPECT_EQ(textToFloat(" -100 "), -100.0f);
    EXPECT_FALSE(textToFloat("1e"));
}
