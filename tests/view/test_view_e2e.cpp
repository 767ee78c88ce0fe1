// The real viewer under Xvfb against the devsim program: a DCI 4K stream is
// shown, and the Actual Size view shows the remote picture pixel for pixel,
// scrolls, and maps the pointer through the scroll offset. All on loopback.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <thread>

#include "c_devsim_desktop.h"
#include "common/devsim_events.h"
#include "common/devsim_process.h"
#include "common/screen_match.h"
#include "common/wait_until.h"
#include "common/x11_display.h"

namespace {

using clock_type = std::chrono::steady_clock;

// The default window: tool bar plus a 1024 x 768 video area.
const int k_area_w = 1024;
const int k_area_h = 768;

// The common bounded wait, polled every 50 ms here.
bool wait_for(const std::function<bool()>& cond, int timeout_ms)
{
    return wait_until(cond, timeout_ms, 50);
}

QImage icon_file(const char* name)
{
    return QImage(QStringLiteral(KVM_SOURCE_DIR "/resources/images/") + QString::fromLatin1(name));
}

// Whether the reference is one colour over the square of radius r around (x, y).
bool uniform(const QImage& ref, int x, int y, int r)
{
    const QRgb c = ref.pixel(x, y);
    for (int j = -r; j <= r; ++j)
        for (int i = -r; i <= r; ++i)
            if (!near(ref.pixel(x + i, y + j), c, 4))
                return false;
    return true;
}

// Share of sampled screen pixels of `shown` (a rectangle of the screen
// showing the picture scaled by 1 / scale) that match devsim's picture where
// it is flat, in the part of the picture right of its text and above the
// block moving along its bottom.
double flat_match_share(const QImage& shot, const QImage& ref, const QRect& shown, double scale, int* compared)
{
    const int r = int(scale) + 2;
    int n = 0, hits = 0;
    for (int sy = shown.top(); sy < shown.bottom(); sy += 7)
        for (int sx = shown.left(); sx < shown.right(); sx += 7) {
            const int rx = int((sx - shown.left()) * scale);
            const int ry = int((sy - shown.top()) * scale);
            if (rx < ref.width() * 6 / 10 || rx >= ref.width() - r || ry < ref.height() / 10 ||
                ry >= ref.height() * 6 / 10 || !uniform(ref, rx, ry, r))
                continue;
            ++n;
            hits += near(shot.pixel(sx, sy), ref.pixel(rx, ry), 16);
        }
    *compared = n;
    return n ? double(hits) / n : 0.0;
}

// Share of the pixels of the screen rectangle `region` that differ from
// devsim's picture shown pixel for pixel with picture point `at` at the
// region's top-left corner. The faint grid lines of devsim's desktop make a
// shift of one pixel count.
double mismatch_share(const QImage& shot, const QImage& ref, const QRect& region, const QPoint& at)
{
    int n = 0, wrong = 0;
    for (int y = 0; y < region.height(); ++y)
        for (int x = 0; x < region.width(); ++x) {
            const QPoint p = at + QPoint(x, y);
            if (p.x() < 0 || p.y() < 0 || p.x() >= ref.width() || p.y() >= ref.height())
                return 1.0;
            ++n;
            wrong += !near(shot.pixel(region.left() + x, region.top() + y), ref.pixel(p), 6);
        }
    return n ? double(wrong) / n : 1.0;
}

// The shift among those given with the fewest differing pixels.
QPoint best_shift(const QImage& shot, const QImage& ref, const QRect& region, const QPoint& at,
                  const std::vector<QPoint>& shifts, double* share)
{
    QPoint best;
    *share = 2.0;
    for (const QPoint& d : shifts) {
        const double m = mismatch_share(shot, ref, region, at + d);
        if (m < *share) {
            *share = m;
            best = d;
        }
    }
    return best;
}

class ViewE2E : public ::testing::Test
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(x.ok()) << "Xvfb did not start";
        ASSERT_TRUE(viewer_process::install(QStringLiteral(VIEWER_PATH), dir.path(), &viewer_exe));
        events = dir.filePath(QStringLiteral("events.jsonl"));
    }

    void start(const QSize& picture, int fps)
    {
        ASSERT_TRUE(dev.start(QStringLiteral(DEVSIM_PATH),
                              {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                               QStringLiteral("%1x%2").arg(picture.width()).arg(picture.height()),
                               QStringLiteral("--fps"), QString::number(fps), QStringLiteral("--mouse-mode"),
                               QStringLiteral("1"), QStringLiteral("--events"), events,
                               QStringLiteral("--events-hex-max"), QStringLiteral("0")},
                              dir.path()));
        ASSERT_TRUE(viewer.start(viewer_exe, dev.launch, QString::fromStdString(x.name())));
        win = x.wait_window("Orvane V2.1", true, 20000);
        ASSERT_NE(win, 0u) << viewer.error_output().toStdString();
        const QRect g = x.geometry(win);
        ASSERT_GT(g.width(), k_area_w);
        area = QRect(g.right() + 1 - k_area_w, g.top(), k_area_w, k_area_h);
        ASSERT_TRUE(wait_for([&] { return dev.status().value(QStringLiteral("kmReceived")).toInt() >= 2; }, 20000));
        ASSERT_TRUE(wait_for([&] { return dev.status().value(QStringLiteral("pictures")).toInt() > 2; }, 30000));
        c_devsim_desktop desktop(picture.width(), picture.height());
        ASSERT_TRUE(desktop.grab(reference, devsim_view{}));
    }

    void TearDown() override
    {
        viewer.kill();
        dev.stop();
    }

    // The fields of each absolute mouse report devsim received.
    std::vector<QJsonObject> mouse_abs_fields()
    {
        std::vector<QJsonObject> out;
        for (const QJsonObject& e : devsim_km_received(events, "mouse-abs"))
            out.push_back(e.value(QStringLiteral("fields")).toObject());
        return out;
    }

    bool move_to(const QPoint& screen)
    {
        return x.xdotool({QStringLiteral("mousemove"), QString::number(screen.x()), QString::number(screen.y())});
    }

    QTemporaryDir dir;
    x11_display x;
    devsim_process dev;
    viewer_process viewer;
    QString viewer_exe;
    QString events;
    Window win = 0;
    QRect area;
    QImage reference;
};

}  // namespace

TEST_F(ViewE2E, ADci4kStreamIsShown)
{
    ASSERT_NO_FATAL_FAILURE(start(QSize(4096, 2304), 2));
    // 4096 x 2304 fitted into 1024 x 768: 1024 x 576 from (0, 96).
    const QRect shown(area.left(), area.top() + 96, 1024, 576);
    double share = 0;
    int compared = 0;
    EXPECT_TRUE(wait_for(
        [&] {
            share = flat_match_share(x.screenshot(), reference, shown, 4.0, &compared);
            return share >= 0.9;
        },
        30000))
        << share << " of " << compared << " samples match";
    if (qEnvironmentVariableIsSet("VIEW_E2E_DUMP")) {
        x.screenshot().save(QStringLiteral("/tmp/view_e2e_4k.png"));
        reference.save(QStringLiteral("/tmp/view_e2e_4k_ref.png"));
    }
    EXPECT_GT(compared, 100);
}

TEST_F(ViewE2E, ActualSizeShowsPixelsScrollsAndMapsThePointerThroughTheScroll)
{
    ASSERT_NO_FATAL_FAILURE(start(QSize(1920, 1080), 10));

    // The tool bar's Actual Size button follows the key menu button, which
    // follows optimum size (align is hidden in absolute mode, set key
    // always): one button pitch below the key menu.
    const QImage shot = x.screenshot();
    const QRect g = x.geometry(win);
    const int bar = g.width() - k_area_w;
    const QRect strip(g.left(), g.top(), bar, g.height());
    const QRgb barColour = shot.pixel(g.left() + 1, g.bottom() - 2);
    const icon_hit opt = find_icon(shot, strip, icon_file("optres.png"), barColour);
    const icon_hit menu = find_icon(shot, strip, icon_file("win.png"), barColour);
    ASSERT_LT(opt.err, 4.0);
    ASSERT_LT(menu.err, 6.0);
    ASSERT_GT(menu.pos.y(), opt.pos.y());
    const QPoint actual = menu.centre() + QPoint(0, menu.pos.y() - opt.pos.y());
    x.click(actual.x(), actual.y());

    // Pixel for pixel from the picture's top-left corner: right of the clock,
    // the picture's own pixels line up there and nowhere a pixel beside.
    std::vector<QPoint> near_shifts;
    for (int dy = -3; dy <= 3; ++dy)
        for (int dx = -3; dx <= 3; ++dx)
            near_shifts.emplace_back(dx, dy);
    const QRect clear(820, 100, 180, 180);  // in picture pixels, free of text
    double share = 1.0;
    QPoint shift;
    EXPECT_TRUE(wait_for(
        [&] {
            shift = best_shift(x.screenshot(), reference, clear.translated(area.topLeft()), clear.topLeft(),
                               near_shifts, &share);
            return shift == QPoint(0, 0) && share < 0.1;
        },
        10000))
        << "best shift " << shift.x() << "," << shift.y() << " with " << share << " differing";
    if (qEnvironmentVariableIsSet("VIEW_E2E_DUMP")) {
        x.screenshot().save(QStringLiteral("/tmp/view_e2e_11.png"));
        reference.save(QStringLiteral("/tmp/view_e2e_11_ref.png"));
    }

    // Paging the scroll bars to their ends: the picture's bottom-right part
    // shows. Only the scroll bars' thickness is not known here: the screen
    // tells it, the same for both bars.
    for (int i = 0; i < 2; ++i) {
        x.click(area.right() - 40, area.bottom() - 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        x.click(area.right() - 4, area.bottom() - 60);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    // With bars of thickness e the viewport is (1024 - e) x (768 - e) and
    // screen point p of the area shows picture point p + no_bars + (e, e).
    const QPoint no_bars(1920 - k_area_w, 1080 - k_area_h);
    std::vector<QPoint> extents;
    for (int e = 6; e <= 40; ++e)
        extents.emplace_back(e, e);
    // Picture pixels about (1290..1720, 870..1010): free of text and motion.
    const QRect region(384, 548, 400, 110);  // of the area
    QPoint extent;
    EXPECT_TRUE(wait_for(
        [&] {
            extent = best_shift(x.screenshot(), reference, region.translated(area.topLeft()),
                                region.topLeft() + no_bars, extents, &share);
            return share < 0.1;
        },
        10000))
        << "the picture did not scroll to its bottom-right corner: " << share << " differing";
    const QPoint scroll = no_bars + extent;

    // The pointer on the picture maps through the scroll offset, 1:1. The
    // first move over the picture aligns first, which puts the local cursor
    // on the picture's top-left corner: that must be over before the move
    // that counts, or it lands after it.
    const auto near_to = [](const QPoint& a, const QPoint& b) {
        return std::abs(a.x() - b.x()) <= 1 && std::abs(a.y() - b.y()) <= 1;
    };
    ASSERT_TRUE(move_to(area.topLeft() + QPoint(300, 200)));
    EXPECT_TRUE(wait_for(
        [&] {
            const QPoint p = dev.pointer();
            return near_to(p, scroll) || near_to(p, scroll + QPoint(300, 200));
        },
        10000));
    ASSERT_TRUE(move_to(area.topLeft() + QPoint(500, 400)));
    const QPoint want = QPoint(500, 400) + scroll;
    EXPECT_TRUE(wait_for(
        [&] {
            return near_to(dev.pointer(), want);
        },
        10000))
        << dev.pointer().x() << "," << dev.pointer().y() << " expected " << want.x() << "," << want.y();

    // A click there presses the button at that remote pixel.
    const size_t before = mouse_abs_fields().size();
    ASSERT_TRUE(x.xdotool({QStringLiteral("click"), QStringLiteral("1")}));
    bool pressed = false;
    ASSERT_TRUE(wait_for(
        [&] {
            const auto m = mouse_abs_fields();
            for (size_t i = before; i < m.size(); ++i)
                if (m[i].value(QStringLiteral("buttons")).toInt() == 1) {
                    pressed = true;
                    EXPECT_NEAR(m[i].value(QStringLiteral("px")).toInt(), want.x(), 1);
                    EXPECT_NEAR(m[i].value(QStringLiteral("py")).toInt(), want.y(), 1);
                    return true;
                }
            return false;
        },
        10000));
    EXPECT_TRUE(pressed);
}
