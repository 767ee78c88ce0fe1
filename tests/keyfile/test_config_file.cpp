// config.xml: the mouse sample rate.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <string>
#include <utility>

#include "common/log_capture.h"
#include "common/temp_dir.h"
#include "ui/c_config_file.h"
#include "ui/mouse_rate.h"

namespace {

class ConfigFile : public ::testing::Test
{
protected:
    QString path() const { return dir.filePath("config.xml"); }

    void write(const std::string& text) const { ASSERT_TRUE(write_all(path().toStdString(), text)); }
    std::string read() const { return read_all(path().toStdString()); }

    QTemporaryDir dir;
};

}  // namespace

TEST_F(ConfigFile, OnlyTheFirstRateElementIsReadAndWritten)
{
    write("<?xml version=\"1.0\"?>\n<settings><other>x</other><mouseRate>30</mouseRate>"
          "<mouseRate>70</mouseRate></settings>\n");
    LogCapture log;
    c_config_file config(path());
    int32_t rate = 50;
    ASSERT_TRUE(config.load(rate));
    EXPECT_EQ(rate, 30);
    EXPECT_TRUE(log.contains("get config info:" + path().toStdString()));

    ASSERT_TRUE(config.save(45));
    EXPECT_TRUE(log.contains("save config info:" + path().toStdString()));
    const std::string text = read();
    EXPECT_NE(text.find("<?xml version=\"1.0\"?>"), std::string::npos);
    EXPECT_NE(text.find("\n    <mouseRate>45</mouseRate>\n    <mouseRate>70</mouseRate>\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("<other>x</other>"), std::string::npos);

    rate = 0;
    EXPECT_TRUE(c_config_file(path()).load(rate));
    EXPECT_EQ(rate, 45);
}

TEST_F(ConfigFile, RatesAboveTheSliderAreTakenUpToAThousand)
{
    // Only the slider stops at 100; 1001 or more would give a 0 ms sampling
    // timer that takes a whole core.
    const std::pair<const char*, int32_t> rows[] = {{"<a><mouseRate> 200 </mouseRate></a>", 200},
                                                    {"<a><mouseRate>1000</mouseRate></a>", 1000},
                                                    {"<a><mouseRate>1001</mouseRate></a>", 1000}};
    for (const auto& [text, expected] : rows) {
        write(text);
        int32_t rate = 50;
        EXPECT_TRUE(c_config_file(path()).load(rate));
        EXPECT_EQ(rate, expected) << text;
    }
}

TEST_F(ConfigFile, MissingFileOrElementChangesNothing)
{
    c_config_file config(path());
    int32_t rate = 50;
    EXPECT_FALSE(config.load(rate));
    EXPECT_FALSE(config.save(10));
    EXPECT_FALSE(QFile::exists(path()));
    EXPECT_EQ(rate, 50);

    // Only a direct child of the root counts.
    const std::string text = "<a>\n<b><mouseRate>10</mouseRate></b>\n</a>\n";
    write(text);
    EXPECT_FALSE(config.load(rate));
    EXPECT_FALSE(config.save(10));
    EXPECT_EQ(read(), text);
    EXPECT_EQ(rate, 50);

    write("<a><mouseRate>10</mouseRate>");  // does not parse
    EXPECT_FALSE(config.load(rate));
    EXPECT_EQ(rate, 50);
}

TEST_F(ConfigFile, NonPositiveRatesKeepTheCurrentOneWithAWarning)
{
    LogCapture log;
    for (const char* bad : {"abc", "0", "-3", "", "12abc"}) {
        write(std::string("<a><mouseRate>") + bad + "</mouseRate></a>");
        int32_t rate = 50;
        EXPECT_FALSE(c_config_file(path()).load(rate)) << bad;
        EXPECT_EQ(rate, 50) << bad;
    }
    EXPECT_TRUE(log.contains("config mouseRate 0 ignored, keeping 50"));
    EXPECT_TRUE(log.contains("config mouseRate -3 ignored"));
}

TEST(MouseRate, IntervalIsIntegerDivisionWithAGuard)
{
    const int32_t saved = mouseRate;
    EXPECT_EQ(saved, MOUSE_RATE_DEFAULT);
    EXPECT_EQ(mouse_sample_interval_ms(), 20);
    mouseRate = 3;
    EXPECT_EQ(mouse_sample_interval_ms(), 333);
    mouseRate = 1000;
    EXPECT_EQ(mouse_sample_interval_ms(), 1);
    mouseRate = 1;
    EXPECT_EQ(mouse_sample_interval_ms(), 1000);
    mouseRate = 0;
    EXPECT_EQ(mouse_sample_interval_ms(), 20);
    mouseRate = saved;
}
