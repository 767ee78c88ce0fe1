// What the user can see of a running session: the statistics overlay with
// the stream's real figures (its text is the overlay's accessible name), and
// the notice line naming a lost channel.
#include <gtest/gtest.h>

#include <QLabel>
#include <QRegularExpression>
#include <QTest>

#include "common/devsim_window.h"
#include "common/h264video_input_peer.h"

namespace {

QLabel* label_named(H264Video& w, const char* name)
{
    return w.findChild<QLabel*>(QString::fromLatin1(name));
}

}  // namespace

TEST(StatsWindow, OverlayShowsTheStreamAndTheNoticeNamesALostChannel)
{
    devsim_window d(1, [](c_devsim_options& o) {
        o.width = 1280;
        o.height = 720;
        o.fps = 30;
    });
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    w.show();
    w.resize(w.ui.toolBar->width() + 800, 500);
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::writePrivilege(w) == 1; }, 5000));

    // The chord shows the overlay; after two refreshes of a steady stream it
    // has the picture's size and about 30 shown pictures a second.
    QTest::keyClick(w.ui.label, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    QLabel* stats = label_named(w, "statsOverlay");
    ASSERT_NE(stats, nullptr);
    ASSERT_TRUE(pump_until([&] { return stats->isVisible() && stats->accessibleName().contains(QStringLiteral("1280\u00d7720")); },
                           10000));
    pump_for(2200);
    const QRegularExpression shownRate(QStringLiteral("shown ([0-9.]+)"));
    const QRegularExpressionMatch m = shownRate.match(stats->accessibleName());
    ASSERT_TRUE(m.hasMatch()) << stats->accessibleName().toStdString();
    const double shown = m.captured(1).toDouble();
    EXPECT_GE(shown, 25.0) << stats->accessibleName().toStdString();
    EXPECT_LE(shown, 35.0) << stats->accessibleName().toStdString();
    EXPECT_TRUE(w.ui.actionStats->isChecked());

    // Toggled again: hidden.
    QTest::keyClick(w.ui.label, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_FALSE(stats->isVisible());
    EXPECT_FALSE(w.ui.actionStats->isChecked());

    // The device drops the KM channel: the notice line says so within 2 s.
    ASSERT_TRUE(d.wait_channel("km"));
    ASSERT_TRUE(d.dev->command(QStringLiteral("close km")).startsWith(QStringLiteral("ok closed")));
    QLabel* notice = label_named(w, "noticeLine");
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(pump_until([&] { return notice->isVisible() && notice->text().contains(QStringLiteral("KM channel")); },
                           2000));
}
