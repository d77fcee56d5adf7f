// Choosing a write row by row, the serial number in a backup's name, and the
// edit session's check, refusal and commit.
#include "EditSession.h"
#include "Embedded.h"
#include "SettingsChoice.h"

#include <gtest/gtest.h>

namespace {
struct ChoiceTest : ::testing::Test {
    ParameterList model{embeddedText("PARAMETER_LIST")};
};
} // namespace

TEST_F(ChoiceTest, unchecked_rows_take_the_controllers_value_its_default_or_its_unknown_key) {
    const std::string controller = "MicLevel=10\nX=1\n";
    auto rows = chooseChanges(model, controller, "MicLevel=12\nAutoStart=99\n", {"AutoStart"});
    ASSERT_EQ(rows.size(), 3u); // MicLevel, AutoStart (a default on the controller), X (unknown)
    EXPECT_EQ(writtenCount(rows), 2u);
    EXPECT_TRUE(rows[1].kept);
    EXPECT_EQ(textToWrite(model, "MicLevel=12\nAutoStart=99\n", rows), "MicLevel=12\n") << "AutoStart at its default";
    for (auto& r : rows)
        r.write = false;
    EXPECT_EQ(textToWrite(model, "MicLevel=12\nAutoStart=99\n", rows), "MicLevel=10\nX=1\n")
        << "nothing chosen: the controller's text again, its unknown key too";
    for (auto& r : rows)
        r.write = true;
    EXPECT_EQ(textToWrite(model, "MicLevel=12\nAutoStart=99\n", rows), "MicLevel=12\nAutoStart=99\n");
    EXPECT_TRUE(chooseChanges(model, "MicLevel=10\n", "MicLevel=10\n", {}).empty());
}

TEST(backup_names, the_serial_comes_only_from_a_backups_own_name) {
    EXPECT_EQ(serialOfBackupName("/home/t/.local/share/z58/backups/305419896_2026-12-08_14-05-09.txt"), 305419896u);
    EXPECT_EQ(serialOfBackupName("C:\\backups\\77_2026-12-08_14-05-09-2.txt"), 77u);
    EXPECT_EQ(serialOfBackupName("305419896_2026-12-08_14-05-09.txt"), 305419896u);
    for (const char* other : {"settings.txt", "305419896.txt", "_2026-12-08_14-05-09.txt", "12_2026-12-08.txt",
                              "99999999999_2026-12-08_14-05-09.txt", "12_2026-12-08_14-05-09.bak", "x12_2026-12-08_14-05-09.txt"})
        EXPECT_FALSE(serialOfBackupName(other)) << other;
}

TEST_F(ChoiceTest, edit_session_commits_a_passing_value_and_tells_a_refusal_once_per_action) {
    model.LoadSettingsText(""); // every value at its default
    EditSession session;
    Parameter& mic = model.parameter(static_cast<size_t>(model.IndexOfKey("MicLevel")));
    session.begin(&mic);
    EXPECT_EQ(session.typed(), mic.value);
    EXPECT_FALSE(session.commit().changed) << "the same value changes nothing";

    session.type("0");
    auto v = session.commit();
    EXPECT_FALSE(v.ok);
    EXPECT_TRUE(v.tell);
    EXPECT_EQ(v.message, "0 - маловато будет.");
    EXPECT_TRUE(session.refused());
    EXPECT_FALSE(session.commit().tell) << "the same text in the same action: one box";
    session.actionEnded();
    EXPECT_TRUE(session.commit().tell) << "a new action tells again";
    EXPECT_EQ(mic.value, "8") << "a refused text never reaches the model";

    session.type("12");
    EXPECT_FALSE(session.refused());
    v = session.commit();
    EXPECT_TRUE(v.ok && v.changed);
    EXPECT_EQ(mic.value, "12");

    session.begin(nullptr);
    EXPECT_TRUE(session.commit().ok) << "nothing edited, nothing to refuse";
}
