#include "ui/c_ui_video_setting_dlg.h"

#include <QCloseEvent>

#include "log/log.h"
#include "session_params.h"
#include "tools/socket/c_msg_builder.h"
#include "ui/c_config_file.h"
#include "ui/mouse_rate.h"
#include "ui/ui_texts.h"

namespace {

enum : uint8_t { DIR_UP = 1, DIR_DOWN = 2, DIR_LEFT = 3, DIR_RIGHT = 4 };

// The device addresses the adapter by the low byte of the dog id.
uint8_t targetAdapter()
{
    return static_cast<uint8_t>(g_para.dogID & 0xFF);
}

}  // namespace

c_ui_video_setting_dlg::c_ui_video_setting_dlg(QWidget* parent, mt_queue<CQUEUE_MESSAGE>* videoQueue)
    : QDialog(parent), m_videoQueue(videoQueue)
{
    ui.setupUi(this);
    setModal(true);

    const UiTexts& t = ui_texts();
    setWindowTitle(t.videoSettingTitle);
    ui.label->setText(t.position + ":");
    ui.btnUp->setText(t.up);
    ui.btnDown->setText(t.down);
    ui.btnLeft->setText(t.left);
    ui.btnRight->setText(t.right);
    ui.pushButton_reset->setText(t.reset);
    ui.label_2->setText(t.mouseSampleRate + ":");

    connect(ui.btnUp, &QPushButton::clicked, this, &c_ui_video_setting_dlg::onUp);
    connect(ui.btnDown, &QPushButton::clicked, this, &c_ui_video_setting_dlg::onDown);
    connect(ui.btnLeft, &QPushButton::clicked, this, &c_ui_video_setting_dlg::onLeft);
    connect(ui.btnRight, &QPushButton::clicked, this, &c_ui_video_setting_dlg::onRight);
    connect(ui.pushButton_reset, &QPushButton::clicked, this, &c_ui_video_setting_dlg::reset);
    connect(ui.hSlider, &QSlider::valueChanged, this, &c_ui_video_setting_dlg::setLineEditSliderValue);
}

void c_ui_video_setting_dlg::setRate(int rate)
{
    ui.lineEdit_slider->setText(QString::number(rate));
    ui.hSlider->setValue(rate);
}

void c_ui_video_setting_dlg::setLineEditSliderValue(int v)
{
    ui.lineEdit_slider->setText(QString::number(v));
    mouseRate = v;
}

void c_ui_video_setting_dlg::closeEvent(QCloseEvent* event)
{
    event->accept();
}

void c_ui_video_setting_dlg::queuePosition(uint8_t direction)
{
    if (!m_videoQueue)
        return;
    CQUEUE_MESSAGE msg = build_msg_32(targetAdapter(), direction);
    if (!msg.empty())
        m_videoQueue->push(msg);
}

void c_ui_video_setting_dlg::onUp()
{
    LOG_INFO("videoSetting,Up");
    queuePosition(DIR_UP);
}

void c_ui_video_setting_dlg::onDown()
{
    LOG_INFO("videoSetting,down");
    queuePosition(DIR_DOWN);
}

void c_ui_video_setting_dlg::onLeft()
{
    LOG_INFO("videoSetting,left");
    queuePosition(DIR_LEFT);
}

void c_ui_video_setting_dlg::onRight()
{
    LOG_INFO("videoSetting,right");
    queuePosition(DIR_RIGHT);
}

void c_ui_video_setting_dlg::reset()
{
    LOG_INFO("videoSetting,beginSet");
    if (!m_videoQueue)
        return;
    CQUEUE_MESSAGE msg = build_msg_31(targetAdapter());
    if (!msg.empty())
        m_videoQueue->push(msg);
}

int c_ui_video_setting_dlg::showAndSave(QWidget* parent, mt_queue<CQUEUE_MESSAGE>* videoQueue, c_config_file& config)
{
    {
        c_ui_video_setting_dlg dlg(parent, videoQueue);
        dlg.setRate(mouseRate);
        dlg.exec();
    }
    const int interval = mouse_sample_interval_ms();
    LOG_INFO("mouse sample interval:%d", interval);
    config.save(mouseRate);
    return interval;
}
