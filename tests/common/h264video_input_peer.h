#pragma once
// Test access to the main window's input, privilege and key menu state
// (H264Video names this class its friend).
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QObject>
#include <QStringList>
#include <cstdint>

#include "common/h264video_peer.h"
#include "h264video.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/c_led_sync.h"
#include "ui/sysKeyConfig.h"

class H264VideoInputPeer
{
public:
    static int writePrivilege(H264Video& w) { return w.m_writePrivilege.load(); }
    static int sampleTimer(H264Video& w) { return w.m_sampleTimer; }
    static bool privRequestPending(H264Video& w) { return w.m_privRequestPending.load() != 0; }
    static int absButtons(H264Video& w) { return w.m_absButtons; }
    static bool cursorPushed(H264Video& w) { return w.m_cursorPushed; }
    static QDateTime ledHoldUntil(H264Video& w) { return w.m_ledHoldUntil; }
    static c_led_sync& ledSync(H264Video& w) { return w.m_ledSync; }
    static void restartSampleTimerAtNextTick(H264Video& w) { w.m_restartSampleTimer = 1; }
    static const unsigned char* keyReport(H264Video& w) { return w.m_keyTranslator->report(); }

    // Whether actionGrab shows the picture of the resource at path.
    static bool grabIconIs(H264Video& w, const QString& path)
    {
        const QImage shown = w.ui.actionGrab->icon().pixmap(QSize(24, 24)).toImage();
        const QImage expected = QIcon(path).pixmap(QSize(24, 24)).toImage();
        return !shown.isNull() && shown == expected;
    }
    static bool canGrabIcon(H264Video& w) { return grabIconIs(w, QStringLiteral(":/image/Resources/privCanGrab.png")); }
    static bool cannotGrabIcon(H264Video& w)
    {
        return grabIconIs(w, QStringLiteral(":/image/Resources/privCannotGrab.png"));
    }

    // How many of the window's timers run at this interval.
    static int timersWithInterval(H264Video& w, int ms)
    {
        int n = 0;
        for (const auto& t : QAbstractEventDispatcher::instance()->registeredTimers(&w))
            if (t.interval == ms)
                ++n;
        return n;
    }
    // The sampling timer's interval as registered, -1 while it does not run.
    static int sampleIntervalMs(H264Video& w)
    {
        for (const auto& t : QAbstractEventDispatcher::instance()->registeredTimers(&w))
            if (t.timerId == w.m_sampleTimer)
                return t.interval;
        return -1;
    }

    static QMenu* keyMenu(H264Video& w) { return w.keyMenu(); }
    static QAction* keyMenuAction(H264Video& w) { return w.m_keyMenuAction; }
    static const SysKeyMap& keyMap(H264Video& w) { return w.m_sysKeyMap; }
    static sysKeyConfig* keyDialog(H264Video& w) { return w.m_sysKeyConfig.get(); }

    // The texts and data strings of the key menu, top to bottom.
    static QStringList menuTexts(H264Video& w)
    {
        QStringList out;
        if (QMenu* m = keyMenu(w))
            for (QAction* a : m->actions())
                out << a->text();
        return out;
    }
    static QStringList menuData(H264Video& w)
    {
        QStringList out;
        if (QMenu* m = keyMenu(w))
            for (QAction* a : m->actions())
                out << a->data().toString();
        return out;
    }
    // The entry of the key menu whose data string is data (null when none).
    static QAction* menuEntry(H264Video& w, const QString& data)
    {
        if (QMenu* m = keyMenu(w))
            for (QAction* a : m->actions())
                if (a->data().toString() == data)
                    return a;
        return nullptr;
    }
};
