// Video settings dialog: form, position requests on the video queue, and the
// mouse sample rate through an opening and config.xml.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "common/log_capture.h"
#include "session_params.h"
#include "tools/socket/mt_queue.h"
#include "ui/c_config_file.h"
#include "ui/c_ui_video_setting_dlg.h"
#include "ui/mouse_rate.h"

namespace {

class VideoSettingDlg : public ::testing::Test
{
protected:
    void SetUp() override
    {
        savedRate = mouseRate;
        savedDog = g_para.dogID;
        mouseRate = MOUSE_RATE_DEFAULT;
    }

    void TearDown() override
    {
        mouseRate = savedRate;
        g_para.dogID = savedDog;
        drain_and_free(queue);
    }

    QString configPath() const { return dir.filePath("config.xml"); }

    void writeConfig(const std::string& text) const
    {
        QFile f(configPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.data(), static_cast<qint64>(text.size()));
    }

    std::string readConfig() const
    {
        QFile f(configPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }

    // Runs one opening; act is called with the open dialog, which is then closed.
    int openAndClose(c_config_file& config, std::function<void(c_ui_video_setting_dlg&)> act = nullptr)
    {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<c_ui_video_setting_dlg*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            seen = true;
            if (act)
                act(*dlg);
            dlg->close();
        });
        const int interval = c_ui_video_setting_dlg::showAndSave(nullptr, &queue, config);
        EXPECT_TRUE(seen) << "the dialog was not shown modally";
        return interval;
    }

    std::vector<std::vector<uint8_t>> takeBodies()
    {
        std::vector<std::vector<uint8_t>> bodies;
        CQUEUE_MESSAGE msg;
        while (queue.pop(msg)) {
            EXPECT_STREQ(msg.tag, "notU");
            bodies.emplace_back(msg.data + 11, msg.data + msg.length);
            msg.free_data();
        }
        return bodies;
    }

    QTemporaryDir dir;
    mt_queue<CQUEUE_MESSAGE> queue;
    int32_t savedRate = 0;
    uint32_t savedDog = 0;
};

}  // namespace

TEST_F(VideoSettingDlg, FormShowsEnglishTextsInItsGrid)
{
    c_ui_video_setting_dlg dlg(nullptr, &queue);
    EXPECT_EQ(dlg.objectName(), "video_setting_dlg");
    EXPECT_EQ(dlg.size(), QSize(416, 244));
    EXPECT_TRUE(dlg.isModal());
    EXPECT_EQ(dlg.windowTitle(), "Video Setting");

    struct Cell { QWidget* w; int row, col, colSpan; QString text; };
    const Cell cells[] = {{dlg.ui.btnUp, 0, 1, 1, "Up"}, {dlg.ui.btnDown, 0, 2, 1, "Down"},
                          {dlg.ui.btnLeft, 0, 3, 1, "Left"}, {dlg.ui.btnRight, 0, 4, 1, "Right"},
                          {dlg.ui.label, 0, 0, 1, "Position:"}, {dlg.ui.pushButton_reset, 2, 0, 1, "Reset"},
                          {dlg.ui.label_2, 3, 0, 1, "Mouse Sample Rate:"}, {dlg.ui.hSlider, 3, 1, 3, ""},
                          {dlg.ui.lineEdit_slider, 3, 4, 1, ""}};
    for (const Cell& c : cells) {
        int row, col, rowSpan, colSpan;
        dlg.ui.gridLayout->getItemPosition(dlg.ui.gridLayout->indexOf(c.w), &row, &col, &rowSpan, &colSpan);
        EXPECT_EQ(QString("%1,%2,%3").arg(row).arg(col).arg(colSpan),
                  QString("%1,%2,%3").arg(c.row).arg(c.col).arg(c.colSpan))
            << c.w->objectName().toStdString();
        EXPECT_EQ(c.w->property("text").toString(), c.text);
    }
    EXPECT_EQ(dlg.ui.hSlider->minimum(), 1);
    EXPECT_EQ(dlg.ui.hSlider->maximum(), 100);
    EXPECT_EQ(dlg.ui.hSlider->singleStep(), 5);
    EXPECT_EQ(dlg.ui.hSlider->pageStep(), 10);
    EXPECT_EQ(dlg.ui.hSlider->tickPosition(), QSlider::TicksBelow);
    EXPECT_EQ(dlg.ui.hSlider->tickInterval(), 5);
}

TEST_F(VideoSettingDlg, OpeningUntouchedLogsTwentyAndRewritesTheSameRate)
{
    writeConfig("<config><mouseRate>50</mouseRate></config>");
    c_config_file config(configPath());
    ASSERT_TRUE(config.load(mouseRate));
    LogCapture log;
    int shownRate = 0;
    EXPECT_EQ(openAndClose(config, [&](c_ui_video_setting_dlg& d) { shownRate = d.ui.hSlider->value(); }), 20);
    EXPECT_EQ(shownRate, 50);
    EXPECT_EQ(mouseRate, 50);
    EXPECT_TRUE(log.contains("mouse sample interval:20"));
    // Rewritten, in the indented form.
    EXPECT_NE(readConfig().find("<config>\n    <mouseRate>50</mouseRate>\n</config>"), std::string::npos)
        << readConfig();
}

TEST_F(VideoSettingDlg, RateAboveTheSliderIsShownThenClamped)
{
    c_ui_video_setting_dlg dlg(nullptr, &queue);
    QStringList shown;
    QObject::connect(dlg.ui.lineEdit_slider, &QLineEdit::textChanged, [&](const QString& t) { shown << t; });
    mouseRate = 200;
    dlg.setRate(mouseRate);
    EXPECT_EQ(shown, (QStringList{"200", "100"}));
    EXPECT_EQ(dlg.ui.hSlider->value(), 100);
    EXPECT_EQ(mouseRate, 100);
}

TEST_F(VideoSettingDlg, SliderAtOneGivesOneSecondAfterClosing)
{
    writeConfig("<c><mouseRate>50</mouseRate></c>");
    c_config_file config(configPath());
    LogCapture log;
    const int interval = openAndClose(config, [](c_ui_video_setting_dlg& d) {
        d.ui.hSlider->setFocus();
        QTest::keyClick(d.ui.hSlider, Qt::Key_Home);
        EXPECT_EQ(d.ui.lineEdit_slider->text(), "1");
    });
    EXPECT_EQ(interval, 1000);
    EXPECT_EQ(mouseRate, 1);
    EXPECT_TRUE(log.contains("mouse sample interval:1000"));
    int32_t saved = 0;
    EXPECT_TRUE(c_config_file(configPath()).load(saved));
    EXPECT_EQ(saved, 1);
}

TEST_F(VideoSettingDlg, PositionButtonsQueueStepsForTheTargetAdapter)
{
    g_para.dogID = 0x1234;
    LogCapture log;
    c_ui_video_setting_dlg dlg(nullptr, &queue);
    dlg.show();
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(dlg.ui.btnUp, Qt::LeftButton);
    auto bodies = takeBodies();
    ASSERT_EQ(bodies.size(), 3u);
    for (const auto& b : bodies)
        EXPECT_EQ(b, (std::vector<uint8_t>{32, 0x34, 1, 1}));
    EXPECT_TRUE(log.contains("videoSetting,Up"));

    QTest::mouseClick(dlg.ui.btnDown, Qt::LeftButton);
    QTest::mouseClick(dlg.ui.btnLeft, Qt::LeftButton);
    QTest::mouseClick(dlg.ui.btnRight, Qt::LeftButton);
    QTest::mouseClick(dlg.ui.pushButton_reset, Qt::LeftButton);
    bodies = takeBodies();
    ASSERT_EQ(bodies.size(), 4u);
    EXPECT_EQ(bodies[0], (std::vector<uint8_t>{32, 0x34, 2, 1}));
    EXPECT_EQ(bodies[1], (std::vector<uint8_t>{32, 0x34, 3, 1}));
    EXPECT_EQ(bodies[2], (std::vector<uint8_t>{32, 0x34, 4, 1}));
    EXPECT_EQ(bodies[3], (std::vector<uint8_t>{31, 0x34}));
    for (const char* line : {"videoSetting,down", "videoSetting,left", "videoSetting,right", "videoSetting,beginSet"})
        EXPECT_TRUE(log.contains(line)) << line;
}
