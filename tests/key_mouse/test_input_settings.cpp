// The keyboard settings in config.xml: older files load, new elements are
// added beside the old ones.
#include <gtest/gtest.h>

#include <QString>

#include "common/temp_dir.h"
#include "ui/c_config_file.h"

TEST(InputSettings, OldFilesLoadWithDefaultsAndSavingAddsTheElementsBesideTheRate)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const auto path = dir.path() / "config.xml";
    ASSERT_TRUE(write_all(path, std::string("<config><mouseRate>40</mouseRate></config>")));
    c_config_file config(QString::fromStdString(path.string()));

    c_input_settings s;
    ASSERT_TRUE(config.loadInput(s));
    EXPECT_TRUE(s.keysByPosition);
    EXPECT_EQ(s.remoteLayout, QStringLiteral("us"));

    s.keysByPosition = false;
    s.remoteLayout = QStringLiteral("de(nodeadkeys)");
    ASSERT_TRUE(config.saveInput(s, 50));
    const std::string text = read_all(path);
    EXPECT_NE(text.find("<mouseRate>40</mouseRate>"), std::string::npos) << text;
    EXPECT_NE(text.find("<keyboardMode>character</keyboardMode>"), std::string::npos) << text;
    EXPECT_NE(text.find("<remoteLayout>de(nodeadkeys)</remoteLayout>"), std::string::npos) << text;

    c_input_settings back;
    ASSERT_TRUE(c_config_file(QString::fromStdString(path.string())).loadInput(back));
    EXPECT_FALSE(back.keysByPosition);
    EXPECT_EQ(back.remoteLayout, QStringLiteral("de(nodeadkeys)"));
    int32_t rate = 0;
    ASSERT_TRUE(c_config_file(QString::fromStdString(path.string())).load(rate));
    EXPECT_EQ(rate, 40);

    // Saving again changes the elements in place instead of adding more.
    back.keysByPosition = true;
    ASSERT_TRUE(c_config_file(QString::fromStdString(path.string())).saveInput(back, 50));
    const std::string again = read_all(path);
    EXPECT_EQ(again.find("<keyboardMode>"), again.rfind("<keyboardMode>"));
    EXPECT_NE(again.find("<keyboardMode>position</keyboardMode>"), std::string::npos) << again;

    // A fresh copy has no file: the choice is kept in a new one that also
    // holds the rate in force. A file that does not parse is left alone.
    const auto fresh = dir.path() / "fresh.xml";
    ASSERT_TRUE(c_config_file(QString::fromStdString(fresh.string())).saveInput(back, 37));
    rate = 0;
    c_input_settings fresh_back;
    fresh_back.keysByPosition = false;
    ASSERT_TRUE(c_config_file(QString::fromStdString(fresh.string())).load(rate));
    ASSERT_TRUE(c_config_file(QString::fromStdString(fresh.string())).loadInput(fresh_back));
    EXPECT_EQ(rate, 37);
    EXPECT_TRUE(fresh_back.keysByPosition);
    const auto broken = dir.path() / "broken.xml";
    ASSERT_TRUE(write_all(broken, std::string("<config><mouseRate>40</mouse")));
    EXPECT_FALSE(c_config_file(QString::fromStdString(broken.string())).saveInput(back, 50));
    EXPECT_EQ(read_all(broken), "<config><mouseRate>40</mouse");
}
