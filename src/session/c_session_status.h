#pragma once
// What the user is told about the session, without any widget: which channels
// are down and why (lost, closed right after the opening, login refused), a
// device that does not answer, and the queue of short notices. The window
// feeds it the channels' state changes and shows what it says.
//
// GUI thread only.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

#include "tools/socket/c_channel_keeper.h"

class QTimer;

class c_session_status : public QObject
{
    Q_OBJECT
public:
    static constexpr int NOTICE_MS = 10000;
    static constexpr int MAX_NOTICES = 3;

    explicit c_session_status(QObject* parent = nullptr);

    // A channel's state changed (the keeper's report, passed on to this thread).
    void set_channel(const QString& name, channel_state state, int attempt, const QString& reason);
    // The KM device has not answered for a while (true), or answered again.
    void set_answers_late(bool late);
    bool answers_late() const { return m_late; }

    // Queues a notice: shown for its time once there is room (at most
    // MAX_NOTICES at once, the newest last).
    void notice(const QString& text, int shown_ms = NOTICE_MS);
    // The notices to show now, oldest first; a lasting condition (the device
    // not answering) comes first and takes one of the places.
    QStringList notices() const;

    // The text over the picture while a channel is down; empty otherwise.
    QString overlay_text() const;
    // A channel's login was refused: the overlay offers to try again.
    bool offer_retry() const;
    // Channels whose login was refused (their names).
    QStringList refused_channels() const;

signals:
    // The overlay text or the notices changed.
    void changed();
    void channel_down(const QString& name);
    void channel_up_again(const QString& name);

private:
    struct down_channel
    {
        QString name;
        channel_state state = channel_state::reconnecting;
        int attempt = 0;
        QString reason;
        bool hint_noticed = false;
    };
    struct timed_notice
    {
        QString text;
        int shown_ms = NOTICE_MS;
        qint64 until = 0;  // m_clock ms; 0 while waiting
    };

    void expire();
    void schedule();

    std::vector<down_channel> m_down;
    std::deque<timed_notice> m_shown;
    std::deque<timed_notice> m_waiting;
    bool m_late = false;
    QElapsedTimer m_clock;
    QTimer* m_timer = nullptr;
};
