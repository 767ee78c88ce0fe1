#pragma once
// Ways the program is asked to end from outside, turned into one call on the
// GUI thread: SIGTERM, SIGINT and SIGHUP (through a self-pipe; the handler
// only writes one byte) and the X server destroying the main window without
// a close request (e.g. "xdotool windowclose").
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QWindow>
#include <QSocketNotifier>
#include <functional>

class shutdown_requests : public QObject, public QAbstractNativeEventFilter
{
public:
    // Needs the QCoreApplication. Only one instance may be installed at a time.
    explicit shutdown_requests(std::function<void()> onRequest, QObject* parent = nullptr);
    ~shutdown_requests() override;

    // True when the signal handlers are in place.
    bool signals_installed() const { return m_notifier != nullptr; }

    // Reports the destruction of this window's X window by another client
    // (null: none). Effective only on the xcb platform.
    void watch_window(QWindow* window);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void fire();

    std::function<void()> m_onRequest;
    QSocketNotifier* m_notifier = nullptr;
    QPointer<QWindow> m_window;
    bool m_fired = false;
};
