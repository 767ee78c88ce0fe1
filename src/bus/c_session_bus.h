#pragma once
// The running session on the user's session bus, for scripts: service
// io.github.h264video.Viewer-<PID>, object /io/github/h264video/Session,
// interface io.github.h264video.Session1. A thin layer: it types through
// c_text_typer, sends reports through the KM channel and reaches the rest
// through c_session_hooks. Refusals are D-Bus errors
// (io.github.h264video.Error.*) whose message says why. Nothing here knows
// the launch string or its keys. GUI thread only.
#include <QDBusContext>
#include <QDBusMessage>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QVariantMap>
#include <list>
#include <memory>

#include "bus/session_hooks.h"

class QTimer;
class c_mouse_translator;

class c_session_bus : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.h264video.Session1")
public:
    static constexpr const char* SERVICE_PREFIX = "io.github.h264video.Viewer-";
    static constexpr const char* OBJECT_PATH = "/io/github/h264video/Session";
    static constexpr const char* INTERFACE = "io.github.h264video.Session1";
    // How often waits look at the picture and the status is compared.
    static constexpr int LOOK_MS = 200;
    static constexpr int STATUS_MS = 500;

    explicit c_session_bus(c_session_hooks hooks, QObject* parent = nullptr);
    ~c_session_bus() override;

    // Registers on the session bus; false (and why) when there is none.
    bool publish(QString* why);

public slots:
    // picture ("WxH"), keyboard/video/media ("connected", "reconnecting",
    // "stalled", "lost"), writePrivilege, absoluteMouse, remoteLayout,
    // mapped (path or ""), readOnly, mapProgress (0-100), recording, recordingFile.
    Q_SCRIPTABLE QVariantMap Status();
    // Types text through the remote layout; answers when done with typed,
    // total, skipped and skippedNames. Cut short: error Interrupted, whose
    // message says how far it got and why.
    Q_SCRIPTABLE QVariantMap TypeText(const QString& text);
    // Presses and releases a chord of key names ("ctrl+alt+Delete", "F2").
    Q_SCRIPTABLE void PressKeys(const QString& chord);
    // A stored key sequence of the key menu, by its name.
    Q_SCRIPTABLE void SendKeySequence(const QString& name);
    // Pointer in remote pixels (absolute mode only; relative mode refuses a
    // move, since the remote position is not known there, but clicks, presses,
    // releases and wheel steps go out in both). Buttons: left, right, middle.
    Q_SCRIPTABLE void PointerMove(int x, int y);
    Q_SCRIPTABLE void PointerClick(const QString& button);
    Q_SCRIPTABLE void PointerPress(const QString& button);
    Q_SCRIPTABLE void PointerRelease(const QString& button);
    Q_SCRIPTABLE void PointerWheel(int steps);
    // The newest picture as PNG at the remote's own size.
    Q_SCRIPTABLE QByteArray Screenshot();
    // Answers once the picture has not changed for stableMs, or fails with
    // Timeout after timeoutMs.
    Q_SCRIPTABLE void WaitStable(uint stableMs, uint timeoutMs);
    // Answers with the difference found once the region (x, y, w, h; w = 0:
    // the whole picture) matches the PNG reference within tolerance (mean
    // difference per colour channel, 0-255), or fails with Timeout.
    Q_SCRIPTABLE double WaitMatch(const QByteArray& referencePng, int x, int y, int w, int h, double tolerance,
                                  uint timeoutMs);
    Q_SCRIPTABLE void MapImage(const QString& path, bool readOnly);
    Q_SCRIPTABLE void Unmap();
    Q_SCRIPTABLE int MapProgress();
    Q_SCRIPTABLE void RecordStart();
    Q_SCRIPTABLE void RecordStop();

signals:
    // The status whenever a part of it changed.
    Q_SCRIPTABLE void StatusChanged(const QVariantMap& status);

private:
    struct wait;
    void refuse(const char* error, const QString& why);
    bool keyboard_ready();
    void send_chord(const std::vector<int>& keys);
    bool button_bit(const QString& name, int& bit);
    void send_pointer(int buttons_after, int kind, int button, int wheel);
    void look();
    void finish_wait(std::list<wait>::iterator it, const QDBusMessage& reply);
    void check_status();

    c_session_hooks m_hooks;
    bool m_published = false;
    QString m_service;
    std::list<wait> m_waits;
    QTimer* m_look_timer = nullptr;
    QTimer* m_status_timer = nullptr;
    QVariantMap m_last_status;
    // Absolute mode: where the pointer was put last and the buttons held.
    int m_abs_x = 0;
    int m_abs_y = 0;
    int m_abs_buttons = 0;
    std::unique_ptr<c_mouse_translator> m_rel;
};
