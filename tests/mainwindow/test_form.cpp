// The main window's form: tool bar, actions in their binding order, initial
// states and the connections, on a real window connected to a loopback device.
#include <gtest/gtest.h>

#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include "common/h264video_session.h"

namespace {

struct ActionSpec {
    const char* name;
    const char* text;
    const char* toolTip;
};

const ActionSpec k_actions[] = {
    {"actionFullScreen", "FullScreen", "FullScreen"},
    {"actionAlign", "align", "Align mouse"},
    {"actionGrab", "grab", "Grab privilege"},
    {"actionVideo_Config", "Video Config", "Video Config"},
    {"actionMedia", "media", "media"},
    {"actionMouseHide", "MouseHide", "Mouse Hide"},
    {"actionSetKey", "setKey", "Set Key"},
    {"actionOptRes", "OptRes", "optimum resolution"},
};

}  // namespace

TEST(MainWindowForm, ToolBarActionsAndInitialStates)
{
    H264VideoSession s(0);
    ASSERT_TRUE(s.km_connected && s.video_connected);
    H264Video& w = *s.window;

    EXPECT_EQ(w.objectName(), QStringLiteral("H264VideoClass"));
    EXPECT_EQ(w.metaObject()->className(), QByteArray("H264Video"));
    EXPECT_EQ(w.findChild<QMenuBar*>(), nullptr);
    EXPECT_EQ(w.findChild<QStatusBar*>(), nullptr);
    EXPECT_EQ(w.findChildren<QToolBar*>().size(), 1);
    EXPECT_EQ(w.toolBarArea(w.ui.toolBar), Qt::LeftToolBarArea);
    EXPECT_EQ(w.ui.toolBar->orientation(), Qt::Vertical);
    EXPECT_EQ(w.ui.toolBar->windowTitle(), QStringLiteral("toolBar"));
    EXPECT_TRUE(w.ui.toolBar->isFloatable());
    EXPECT_EQ(w.ui.label->objectName(), QStringLiteral("label"));
    EXPECT_FALSE(w.ui.label->hasScaledContents());
    EXPECT_TRUE(w.ui.label->hasMouseTracking());
    EXPECT_EQ(w.ui.label->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(w.ui.label->focusPolicy(), Qt::ClickFocus);

    const QList<QAction*> actions = w.ui.toolBar->actions();
    ASSERT_GE(actions.size(), 8);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(k_actions[i].name);
        EXPECT_EQ(actions[i]->objectName(), QString::fromLatin1(k_actions[i].name));
        EXPECT_EQ(actions[i]->text(), QString::fromLatin1(k_actions[i].text));
        EXPECT_EQ(actions[i]->toolTip(), QString::fromLatin1(k_actions[i].toolTip));
        EXPECT_FALSE(actions[i]->icon().isNull());
    }
    EXPECT_FALSE(w.ui.actionGrab->isEnabled());
    EXPECT_FALSE(w.ui.actionSetKey->isVisible());
    EXPECT_TRUE(w.ui.actionAlign->isVisible());
    EXPECT_TRUE(w.ui.actionMouseHide->isEnabled());

    // The session runs its three timers.
    EXPECT_TRUE(H264VideoTestPeer::timersRunning(w));
}

TEST(MainWindowForm, AbsoluteModeHidesAlignButKeepsPositions)
{
    H264VideoSession s(1);
    H264Video& w = *s.window;
    EXPECT_FALSE(w.ui.actionAlign->isVisible());
    const QList<QAction*> actions = w.ui.toolBar->actions();
    ASSERT_GE(actions.size(), 8);
    EXPECT_EQ(actions[Ui_H264VideoClass::POS_GRAB], w.ui.actionGrab);
    EXPECT_EQ(actions[Ui_H264VideoClass::POS_MOUSE_HIDE], w.ui.actionMouseHide);
    EXPECT_FALSE(w.ui.actionGrab->isEnabled());
}

TEST(MainWindowForm, ActionsReachTheirSlots)
{
    H264VideoSession s(0);
    H264Video& w = *s.window;
    w.show();
    pump_for(20);

    // Mouse hide/show flips the cursor flag, icon tool tip and back.
    w.ui.actionMouseHide->trigger();
    EXPECT_EQ(H264VideoTestPeer::cursorShown(w), 0);
    EXPECT_EQ(w.ui.actionMouseHide->toolTip(), QStringLiteral("Mouse Show"));
    w.ui.actionMouseHide->trigger();
    EXPECT_EQ(H264VideoTestPeer::cursorShown(w), 1);
    EXPECT_EQ(w.ui.actionMouseHide->toolTip(), QStringLiteral("Mouse Hide"));

    // Full screen toggles once per trigger (it is connected once).
    w.ui.actionFullScreen->trigger();
    EXPECT_TRUE(w.windowState() & Qt::WindowFullScreen);
    w.ui.actionFullScreen->trigger();
    EXPECT_EQ(w.windowState(), Qt::WindowNoState);

    // Align queues its 20 relative reports.
    w.clearKmQueue();
    w.ui.actionAlign->trigger();
    const auto queue = H264VideoTestPeer::kmQueue(w);
    ASSERT_EQ(queue.size(), 20u);
    for (const auto& f : queue)
        EXPECT_EQ(km_plain_body(f), (std::vector<uint8_t>{5, 0x00, 0x81, 0x81, 0x00}));

    // Optimum resolution sizes the window for the picture shown.
    w.ui.actionOptRes->trigger();
    const QSize frame = H264VideoTestPeer::frameSize(w);
    EXPECT_EQ(frame, QSize(1366, 768));
    // ...within the screen's available area (the offscreen screen is smaller).
    EXPECT_EQ(w.size(), QSize(frame.width() + w.ui.toolBar->width(), frame.height())
                            .boundedTo(w.screen()->availableGeometry().size()));

    // The grab action never triggers anything: it stays disabled.
    w.ui.actionGrab->trigger();
    EXPECT_FALSE(w.ui.actionGrab->isEnabled());
}
