// List texts as the plug-in describes its settings, and agreement between the tool's lists and
// the patch schema, which are written separately and must not drift apart.
#include "tools/render/model/list_settings.h"

#include "tools/render/model/embedded_texts.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace tarn::render;

namespace {

TEST(ListSettings, ParsesItemsAtTheirLastEqualsSignAndSkipsMalformedOnes) {
    auto items = parseListText("L+R=0,a=b=3,x,y=,z=abc,big=40000,neg=-2,=7");
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].label, "L+R");
    EXPECT_EQ(items[0].value, 0);
    EXPECT_EQ(items[1].label, "a=b");
    EXPECT_EQ(items[1].value, 3);
    EXPECT_EQ(items[2].label, "neg");
    EXPECT_EQ(items[2].value, -2);
    EXPECT_EQ(items[3].label, "");
    EXPECT_EQ(items[3].value, 7);
    EXPECT_TRUE(parseListText("").empty());
}

TEST(ListSettings, FindsChoicesByLabelOrByValueButNotByTheOtherSpelling) {
    const std::string alternate = LIST_SETTINGS[SETTING_ALTERNATE].listText;
    EXPECT_EQ(findListValue(alternate, "M+S alt"), 3);
    EXPECT_EQ(findListValue(alternate, int64_t{5}), 5);
    EXPECT_FALSE(findListValue(alternate, "3").has_value());
    EXPECT_FALSE(findListValue(alternate, int64_t{6}).has_value());
    EXPECT_FALSE(findListValue(alternate, "m+s alt").has_value());
    // "cyclic" counts from 1: off is 1, on is 2.
    EXPECT_EQ(findListValue(LIST_SETTINGS[SETTING_CYCLIC].listText, "on"), 2);
}

TEST(ListSettings, SchemaAdmitsExactlyTheLabelsAndValuesOfEachList) {
    auto schema = nlohmann::json::parse(PATCH_SCHEMA_TEXT);
    for (const ListSetting &setting : LIST_SETTINGS) {
        nlohmann::json expected = nlohmann::json::array();
        for (const ListItem &item : parseListText(setting.listText))
            expected.push_back(item.value);
        for (const ListItem &item : parseListText(setting.listText))
            expected.push_back(item.label);
        EXPECT_EQ(schema["$defs"][setting.name]["enum"], expected) << setting.name;
        EXPECT_TRUE(findListValue(setting.listText, int64_t{setting.defaultValue}).has_value())
            << setting.name;
    }
}

} // namespace
