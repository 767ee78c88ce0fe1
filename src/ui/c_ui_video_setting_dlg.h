#pragma once
// Video settings: picture position requests to the device and the mouse
// sample rate. Modal; built anew for each opening.
#include <QDialog>

#include "tools/socket/CQUEUE_MESSAGE.h"
#include "tools/socket/mt_queue.h"
#include "ui/ui_video_setting_dlg.h"

class c_config_file;

class c_ui_video_setting_dlg : public QDialog
{
    Q_OBJECT
public:
    // videoQueue: the video channel's send queue (owned by the main window);
    // with null, the position buttons only log.
    c_ui_video_setting_dlg(QWidget* parent, mt_queue<CQUEUE_MESSAGE>* videoQueue);

    // Shows rate in the line edit, then moves the slider there (clamped to 1..100).
    void setRate(int rate);

    // Runs one opening: the dialog on the current mouseRate until closed, then
    // logs the new sampling interval and saves the rate to config. Returns the
    // interval in ms; the caller restarts its sampling timer with it.
    static int showAndSave(QWidget* parent, mt_queue<CQUEUE_MESSAGE>* videoQueue, c_config_file& config);

    Ui_video_setting_dlg ui;

public slots:
    void onUp();
    void onDown();
    void onLeft();
    void onRight();
    void reset();
    void setLineEditSliderValue(int v);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void queuePosition(uint8_t direction);

    mt_queue<CQUEUE_MESSAGE>* m_videoQueue;
};
