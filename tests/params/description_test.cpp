#include "Cp1251.h"
#include "Embedded.h"
#include "ParameterList.h"

#include <gtest/gtest.h>

namespace {
std::string embeddedDocument() { return embeddedText("PARAMETER_LIST"); }
std::string cp(const char* utf8) { return cp1251::fromUtf8(utf8); }

const Parameter& byKey(const ParameterList& l, const char* key) {
    const int i = l.IndexOfKey(key);
    EXPECT_GE(i, 0) << key;
    return l.parameters().at(static_cast<size_t>(i < 0 ? 0 : i));
}
} // namespace

TEST(embedded_description, shape) {
    ParameterList l(embeddedDocument());
    ASSERT_EQ(l.parseError(), "");
    ASSERT_EQ(l.groups().size(), 7u);
    EXPECT_EQ(l.enums().size(), 12u);
    ASSERT_EQ(l.parameters().size(), 61u);
    EXPECT_EQ(l.parameters().front().key, "PinCod");
    EXPECT_EQ(l.parameters().back().key, "SlaveMode");
    std::vector<size_t> counts;
    for (const auto& g : l.groups())
        counts.push_back(l.ParametersOfGroup(g.name).size());
    EXPECT_EQ(counts, (std::vector<size_t>{8, 12, 17, 5, 10, 4, 5}));
    EXPECT_EQ(l.groups()[0].name, cp("Настройки связи"));
    EXPECT_EQ(byKey(l, "PinCod").name, cp("Пин код "));
    for (const auto& p : l.parameters())
        EXPECT_EQ(p.value, "") << "values are empty until the first settings load";
}

TEST(embedded_description, enums) {
    ParameterList l(embeddedDocument());
    ASSERT_TRUE(l.FindEnum("engine_type_value"));
    EXPECT_EQ(l.FindEnum("engine_type_value")->items.size(), 4u);
    const EnumValueList* autoStart = l.FindEnum("AutoStart_type_value");
    ASSERT_TRUE(autoStart);
    std::vector<int> values;
    for (const auto& item : autoStart->items)
        values.push_back(item.value);
    EXPECT_EQ(values, (std::vector<int>{0, 99, 1, 2, 3, 4, 24, 5, 10, 15, 20, 25}));
    EXPECT_EQ(autoStart->items[7].text, cp("Ниже -5°С"));
    EXPECT_EQ(l.FindEnum("out_func_value")->items.size(), 20u);
    EXPECT_EQ(l.FindEnum("nonexistent"), nullptr);
}

TEST(embedded_description, typed_attributes) {
    ParameterList l(embeddedDocument());
    const Parameter& mic = byKey(l, "MicLevel");
    EXPECT_EQ(mic.type, ParameterType::Number);
    EXPECT_EQ(mic.defaultValue, "8");
    EXPECT_EQ(mic.min, 1.0f);
    EXPECT_EQ(mic.max, 14.0f);
    const Parameter& temp = byKey(l, "TempSens");
    EXPECT_EQ(temp.min, -100.0f);
    const Parameter& autoStart = byKey(l, "AutoStart");
    EXPECT_EQ(autoStart.type, ParameterType::Enum);
    EXPECT_EQ(autoStart.enumName, "AutoStart_type_value");
    EXPECT_EQ(autoStart.max, 199.0f);
    EXPECT_EQ(byKey(l, "Balans").type, ParameterType::String);
    EXPECT_EQ(l.IndexOfKey("PinCod"), 0);
    EXPECT_EQ(l.IndexOfKey("pincod"), -1);
}

TEST(embedded_description, descriptions_after_line_break_processing) {
    ParameterList l(embeddedDocument());
    EXPECT_EQ(byKey(l, "KickSens").description,
              cp("Чувствительность датчика удара:\n1 - минимальная\n9 - максимальная\n0 - выключен"));
    const std::string reserve = byKey(l, "ReserveType").description;
    EXPECT_EQ(std::count(reserve.begin(), reserve.end(), '\n'), 4);
    EXPECT_NE(reserve.find(cp("(обычный режим для РКПП), резервация происходит")), std::string::npos);
    EXPECT_NE(reserve.find(cp("(в Slave режиме), после закрытия")), std::string::npos);
    EXPECT_EQ(reserve.find('\\'), std::string::npos);
    const std::string autoStart = byKey(l, "AutoStart").description;
    ASSERT_GE(autoStart.size(), 2u);
    EXPECT_EQ(autoStart.substr(autoStart.size() - 2), "\n\\");
    EXPECT_EQ(byKey(l, "UserNumber3").description, cp("Сотовый номер третьего пользователя.\n"));
    EXPECT_EQ(byKey(l, "InpKick").description, cp("Параметры входа: \"Датчик удара\"\n(полярность знчения не имеет)"));
    EXPECT_EQ(byKey(l, "AccLowStart").description,
              cp("Настрока автозапуска двигателя при разряде аккумулятора, напряжение разряда задается в группе 'Датчики и уставки'"));
    const std::string after = l.groups()[1].after;
    EXPECT_NE(after.find(cp("входе и \\\r\nтип реакции")), std::string::npos) << "after text is not processed";
    EXPECT_EQ(l.groups()[5].after, cp("Выберите функцию выхода:"));
    EXPECT_EQ(l.groups()[0].after, "");
}

TEST(embedded_description, file_is_windows_1251_with_crlf) {
    const std::string doc = embeddedDocument();
    EXPECT_EQ(doc.rfind("<?xml version=\"1.0\" encoding=\"ANSI\"?>\r\n", 0), 0u);
    // Every LF is preceded by CR.
    for (size_t i = 0; i < doc.size(); ++i)
        if (doc[i] == '\n') {
            ASSERT_TRUE(i > 0 && doc[i - 1] == '\r') << "bare LF at " << i;
        }
    // Valid UTF-8 would decode; the Cyrillic bytes of Windows-1251 do not.
    std::string ignored;
    EXPECT_FALSE(cp1251::fromUtf8(doc, ignored)) << "looks like UTF-8";
    EXPECT_NE(doc.find(cp("Настройки связи")), std::string::npos);
}

TEST(description_processing, rules) {
    EXPECT_EQ(processDescription("a\\nb"), "a\nb");
    EXPECT_EQ(processDescription("line\\\r\n  next"), "line  next");
    EXPECT_EQ(processDescription("keep\\t and \\"), "keep\\t and \\");
    EXPECT_EQ(processDescription("end\\n\\"), "end\n\\");
    EXPECT_EQ(processDescription("\\n\\n"), "\n\n");
    // Removing one continuation can make another: each search starts over.
    EXPECT_EQ(processDescription("a\\\\\r\n\r\nb"), "ab");
    EXPECT_EQ(processDescription("\\\\\\\r\n\r\n\r\n"), "");
    EXPECT_EQ(processDescription("x\\\r\n\r\n"), "x\r\n");
    EXPECT_EQ(processDescription("\\\\n"), "\\\n") << "backslash, then backslash-n";
    EXPECT_EQ(processDescription("\\\r\\n"), "") << "a line feed made by step one ends a continuation";
}

TEST(small_documents, enum_without_name_is_skipped_with_items) {
    ParameterList l(
        "<resources><parameters>"
        "<group name='g'><parameter key='a' type='enum' enum='late' min='0' max='1'/></group>"
        "<enum><item value='1' text='x'/></enum>"
        "<enum name='late'><item value='7' text='seven'/></enum>"
        "</parameters></resources>");
    ASSERT_EQ(l.parseError(), "");
    ASSERT_EQ(l.enums().size(), 1u);
    EXPECT_EQ(l.enums()[0].name, "late");
    EXPECT_TRUE(l.FindEnum("late")) << "an enum after the group that uses it is found";
    l.SetValueByKey("a", "7");
    EXPECT_EQ(l.ValueTextByKey("a"), "seven");
    l.SetValueByKey("a", "07");
    EXPECT_EQ(l.ValueTextByKey("a"), "seven");
    l.SetValueByKey("a", "8");
    EXPECT_EQ(l.ValueTextByKey("a"), "");
}

TEST(small_documents, group_without_name_and_missing_optionals) {
    ParameterList l("<resources><parameters><group><parameter type='string' min='1' max='2'/></group></parameters></resources>");
    ASSERT_EQ(l.parseError(), "");
    ASSERT_EQ(l.parameters().size(), 1u);
    EXPECT_EQ(l.parameters()[0].group, "");
    EXPECT_EQ(l.parameters()[0].key, "");
    EXPECT_EQ(l.ParametersOfGroup("").size(), 1u);
}

TEST(small_documents, missing_structure_gives_empty_model_without_report) {
    ParameterList a("<other/>");
    EXPECT_TRUE(a.parameters().empty());
    EXPECT_EQ(a.parseError(), "");
    ParameterList b("<resources><other/></resources>");
    EXPECT_TRUE(b.groups().empty());
}

TEST(small_documents, syntax_error_reports_and_empties) {
    ParameterList l("<resources><parameters><group name='g'><parameter key='a' type='number' min='1' max='2'/></group>");
    EXPECT_TRUE(l.groups().empty());
    EXPECT_TRUE(l.parameters().empty());
    EXPECT_EQ(l.parseError().rfind("ошибка парсера: ", 0), 0u) << l.parseError();
    ParameterList e("");
    EXPECT_TRUE(e.parameters().empty());
    ParameterList eq("<resources a></resources>");
    EXPECT_EQ(eq.parseError(), "ошибка парсера: expected =");
}

TEST(small_documents, unusable_attributes_reject_the_document) {
    const char* bad[] = {
        "<parameter key='k' min='1' max='2'/>",
        "<parameter key='k' type='Number' min='1' max='2'/>",
        "<parameter key='k' type='number' max='2'/>",
        "<parameter key='k' type='number' min='one' max='2'/>",
    };
    for (const char* p : bad) {
        ParameterList l(std::string("<resources><parameters><group name='g'>") + p + "</group></parameters></resources>");
        EXPECT_TRUE(l.parameters().empty()) << p;
        EXPECT_TRUE(l.groups().empty()) << p;
        EXPECT_NE(l.parseError().find("\"k\""), std::string::npos) << l.parseError();
    }
    ParameterList item("<resources><parameters><enum name='e'><item text='x'/></enum></parameters></resources>");
    EXPECT_TRUE(item.enums().empty());
    EXPECT_NE(item.parseError().find("value"), std::string::npos);
    ParameterList fraction("<resources><parameters><group><parameter type='float' min='-1.5' max='2,5'/></group></parameters></resources>");
    ASSERT_EQ(fraction.parameters().size(), 1u);
    EXPECT_EQ(fraction.parameters()[0].max, 2.5f);
}
