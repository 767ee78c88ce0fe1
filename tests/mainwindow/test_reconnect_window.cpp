// The window while its device refuses connections: a notice over the picture
// names the lost channels and the attempts, and keys typed meanwhile are
// dropped, not sent late when the channel is back.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include "c_devsim_km.h"
#include "c_devsim_video.h"
#include "common/devsim_window.h"
#include "common/h264video_input_peer.h"
#include "tools/key_mouse/km_messages.h"

TEST(ReconnectWindow, NoticeWhileDownAndNothingTypedMeanwhileArrivesLater)
{
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    w.show();
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::writePrivilege(w) == 1; }, 5000));
    // Both channels are up before the device refuses them (a first connect
    // that is refused ends the session instead).
    ASSERT_TRUE(d.wait_channel("video"));

    d.dev->km().refuse_for(10000);
    d.dev->video().refuse_for(10000);
    QLabel* notice = nullptr;
    ASSERT_TRUE(pump_until(
        [&] {
            notice = w.findChild<QLabel*>(QStringLiteral("connectionOverlay"));
            return notice && notice->isVisible() && notice->text().contains(QStringLiteral("KM channel, attempt 2")) &&
                   notice->text().contains(QStringLiteral("video channel"));
        },
        8000));
    EXPECT_TRUE(notice->text().startsWith(QStringLiteral("Connection to the device lost")));

    // Typed while the KM channel is down: dropped.
    const size_t mark = d.km_count();
    for (Qt::Key k : {Qt::Key_X, Qt::Key_Y, Qt::Key_Z}) {
        QTest::keyPress(w.ui.label, k);
        QTest::keyRelease(w.ui.label, k);
    }

    // Back: the opening again, and no key but the all-released report.
    ASSERT_GE(d.wait_km_body(mark, {CMD_KM_PRIVILEGE, 0}, 20000), 0);
    ASSERT_TRUE(pump_until([&] { return !notice->isVisible(); }, 10000));
    pump_for(500);
    for (const devsim_km_message& m : d.km_since(mark, CMD_KM_KEYBOARD))
        EXPECT_EQ(m.body, devsim_window::keyboard({})) << "a key typed while down arrived late";
    EXPECT_FALSE(d.km_since(mark, CMD_KM_KEYBOARD).empty()) << "no all-released report after the reconnect";
}
