// Lock LED sync: the companion program started with index and state (a shell
// stand-in that records its arguments), the hold after a local lock key, and
// the XKB fallback on a private X server.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <X11/XKBlib.h>
#include <chrono>
#include <set>
#include <thread>

#include "common/x11_display.h"
#include "tools/key_mouse/c_led_sync.h"

namespace {

// A stand-in for kbl.exe that appends "index state" to calls.txt.
bool install_companion(const QString& dir)
{
    const QString path = QDir(dir).filePath(QStringLiteral("kbl.exe"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("#!/bin/sh\necho \"$1 $2\" >> \"$(dirname \"$0\")/calls.txt\"\n");
    f.close();
    return f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

std::multiset<std::string> read_calls(const QString& dir)
{
    std::multiset<std::string> out;
    QFile f(QDir(dir).filePath(QStringLiteral("calls.txt")));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.isEmpty())
            out.insert(line.toStdString());
    return out;
}

bool wait_calls(const QString& dir, size_t n, int timeout_ms = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (read_calls(dir).size() < n) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int64_t now_ms()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The three lock indicators of the display, as bits 0 Num, 1 Caps, 2 Scroll.
int indicators(Display* dpy)
{
    int bits = 0;
    const char* names[] = {"Num Lock", "Caps Lock", "Scroll Lock"};
    for (int i = 0; i < 3; ++i) {
        Bool on = False;
        XkbGetNamedIndicator(dpy, XInternAtom(dpy, names[i], False), nullptr, &on, nullptr, nullptr);
        if (on)
            bits |= 1 << i;
    }
    return bits;
}

bool wait_indicators(Display* dpy, int bits, int timeout_ms = 3000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (indicators(dpy) != bits) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace

TEST(LedSync, CompanionGetsEachLedWithIndexAndStateUnlessHeld)
{
    QTemporaryDir dir;
    ASSERT_TRUE(install_companion(dir.path()));
    c_led_sync leds(dir.path());
    EXPECT_EQ(leds.companion_path(), QDir(dir.path()).filePath(QStringLiteral("kbl.exe")));

    // Held until a moment still to come: nothing is started.
    leds.set_hold_until(now_ms() + 60000);
    EXPECT_FALSE(leds.apply(0x05));

    // Once the moment has passed: three starts for the first report; bits above 2 ignored.
    leds.set_hold_until(now_ms() - 1);
    EXPECT_TRUE(leds.apply(0x05 | 0xF8));
    ASSERT_TRUE(wait_calls(dir.path(), 3));
    EXPECT_EQ(read_calls(dir.path()), (std::multiset<std::string>{"1 1", "2 0", "3 1"}));
    // The same state again starts nothing; a change starts one for that LED only.
    EXPECT_TRUE(leds.apply(0x05));
    EXPECT_TRUE(leds.apply(0x04));
    ASSERT_TRUE(wait_calls(dir.path(), 4));
    EXPECT_FALSE(wait_calls(dir.path(), 5, 300));
    EXPECT_EQ(read_calls(dir.path()), (std::multiset<std::string>{"1 1", "1 0", "2 0", "3 1"}));
}

TEST(LedSync, XkbSetsNumCapsAndScrollOfTheDisplay)
{
    x11_display x;
    ASSERT_TRUE(x.ok());
    QTemporaryDir dir;
    c_led_sync leds(dir.path());
    leds.set_hold_until(now_ms() - 1);

    // A display that does not open is given up quietly; a new name is tried.
    leds.set_x11_display("/nonexistent:99");
    EXPECT_TRUE(leds.apply(0x07));
    leds.set_x11_display(QByteArray::fromStdString(x.name()));

    ASSERT_TRUE(wait_indicators(x.dpy(), 0));
    EXPECT_TRUE(leds.apply(0x05));
    EXPECT_TRUE(wait_indicators(x.dpy(), 0x05));
    EXPECT_TRUE(leds.apply(0x02));
    EXPECT_TRUE(wait_indicators(x.dpy(), 0x02));
    EXPECT_TRUE(leds.apply(0xFF));
    EXPECT_TRUE(wait_indicators(x.dpy(), 0x07));
    EXPECT_TRUE(leds.apply(0xF8));
    EXPECT_TRUE(wait_indicators(x.dpy(), 0x00));

    // Held: the display keeps its state.
    leds.set_hold_until(now_ms() + 60000);
    EXPECT_FALSE(leds.apply(0x07));
    EXPECT_EQ(indicators(x.dpy()), 0);

    // With the companion present it is the companion that is started.
    ASSERT_TRUE(install_companion(dir.path()));
    leds.set_hold_until(now_ms() - 1);
    EXPECT_TRUE(leds.apply(0x01));
    ASSERT_TRUE(wait_calls(dir.path(), 3));
    EXPECT_EQ(read_calls(dir.path()), (std::multiset<std::string>{"1 1", "2 0", "3 0"}));
    EXPECT_EQ(indicators(x.dpy()), 0);
}
