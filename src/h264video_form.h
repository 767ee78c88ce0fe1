#pragma once
// The main window's form in the generated-form pattern: setupUi creates the
// widgets and the tool bar's eight actions, retranslateUi sets the texts in
// the context "H264VideoClass".
#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QToolBar>
#include <QWidget>

class Ui_H264VideoClass
{
public:
    // Positions in the tool bar's action list. Other code finds the grab and
    // mouse hide/show actions by these, so the order is binding.
    enum ToolBarPosition
    {
        POS_FULL_SCREEN = 0,
        POS_ALIGN = 1,
        POS_GRAB = 2,
        POS_VIDEO_CONFIG = 3,
        POS_MEDIA = 4,
        POS_MOUSE_HIDE = 5,
        POS_SET_KEY = 6,
        POS_OPT_RES = 7,
        POS_KEY_MENU = 8  // the key menu button; the later actions follow it
    };

    QAction* actionFullScreen = nullptr;
    QAction* actionAlign = nullptr;
    QAction* actionGrab = nullptr;
    QAction* actionVideo_Config = nullptr;
    QAction* actionMedia = nullptr;
    QAction* actionMouseHide = nullptr;
    QAction* actionSetKey = nullptr;
    QAction* actionOptRes = nullptr;
    QAction* actionRecord = nullptr;  // checkable; the window puts it after the key menu button
    QAction* actionStats = nullptr;   // checkable: the statistics overlay
    QAction* actionActualSize = nullptr;  // checkable: picture pixel for pixel, scrolled; after the key menu button
    QWidget* centralWidget = nullptr;
    QLabel* label = nullptr;
    QToolBar* toolBar = nullptr;

    void setupUi(QMainWindow* H264VideoClass);
    void retranslateUi(QMainWindow* H264VideoClass);
};

namespace Ui {
class H264VideoClass : public Ui_H264VideoClass
{
};
}  // namespace Ui
