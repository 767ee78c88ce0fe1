// What the window shows of the session: notices queue instead of overwriting
// each other, and the connection box and notices stay inside the picture
// area of a small window and follow a resize (offscreen).
#include <gtest/gtest.h>

#include <QApplication>

#include "common/offscreen_app.h"
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>

#include "session/c_session_status.h"
#include "view/c_session_overlay.h"

namespace {

QApplication* app()
{
    return offscreen_app();
}

bool pump_until(const std::function<bool()>& cond, int timeout_ms)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeout_ms)
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace

TEST(SessionStatus, NoticesQueueThreeAtATimeEachForItsTime)
{
    app();
    c_session_status status;
    status.notice(QStringLiteral("Recording saved to a.mkv"), 400);
    for (int i = 1; i <= 4; ++i)
        status.notice(QStringLiteral("notice %1").arg(i), 400);
    EXPECT_EQ(status.notices(), (QStringList{QStringLiteral("Recording saved to a.mkv"), QStringLiteral("notice 1"),
                                             QStringLiteral("notice 2")}));
    // The first three go together; the two that waited are shown next, newest last.
    ASSERT_TRUE(pump_until([&] { return status.notices().size() == 2; }, 5000));
    EXPECT_EQ(status.notices(), (QStringList{QStringLiteral("notice 3"), QStringLiteral("notice 4")}));
    ASSERT_TRUE(pump_until([&] { return status.notices().isEmpty(); }, 5000));

    // A device not answering stays while it lasts and takes one of the places.
    status.set_answers_late(true);
    status.notice(QStringLiteral("a"), 400);
    status.notice(QStringLiteral("b"), 400);
    status.notice(QStringLiteral("c"), 400);
    EXPECT_EQ(status.notices().size(), 3);
    EXPECT_TRUE(status.notices().first().contains(QStringLiteral("does not answer")));
    status.set_answers_late(false);
    EXPECT_FALSE(status.notices().join(QLatin1Char('\n')).contains(QStringLiteral("does not answer")));
}

TEST(SessionOverlay, StaysInsideASmallPictureAreaAndFollowsAResize)
{
    app();
    QWidget area;
    area.resize(220, 110);
    c_session_overlay overlay(&area);
    area.show();
    const QString text = QStringLiteral(
        "The device closes the connection right after the opening: the key or the user may be wrong.\n"
        "KM channel, attempt 7 (closed after the opening)\nvideo channel, attempt 3 (Connection refused)\n"
        "media channel, attempt 2 (Connection refused)");
    overlay.set_box(text, true);
    overlay.set_notices({QStringLiteral("KM channel lost (closed by the device): reconnecting\u2026")});
    auto* box = area.findChild<QFrame*>(QStringLiteral("connectionBox"));
    auto* notice = area.findChild<QLabel*>(QStringLiteral("noticeLine"));
    ASSERT_NE(box, nullptr);
    ASSERT_NE(notice, nullptr);
    ASSERT_TRUE(pump_until([&] { return box->isVisible() && notice->isVisible(); }, 2000));
    EXPECT_TRUE(area.rect().contains(box->geometry())) << box->geometry().width() << "x" << box->geometry().height();
    EXPECT_EQ(overlay.box_text(), text);

    area.resize(640, 400);
    ASSERT_TRUE(pump_until([&] { return area.size() == QSize(640, 400); }, 2000));
    EXPECT_TRUE(area.rect().contains(box->geometry()));
    EXPECT_EQ(box->geometry().center().x(), area.rect().center().x());
    // The notices keep to the bottom of the picture.
    EXPECT_EQ(notice->geometry().bottom(), area.height() - 1 - 8);
}
