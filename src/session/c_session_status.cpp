#include "session/c_session_status.h"

#include <QTimer>
#include <algorithm>

#include "log/log.h"

namespace {

bool is_hint(const QString& reason)
{
    return reason == QLatin1String(c_channel_keeper::WRONG_KEY_HINT);
}

QString capitalised(QString s)
{
    if (!s.isEmpty())
        s[0] = s[0].toUpper();
    return s;
}

}  // namespace

c_session_status::c_session_status(QObject* parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_clock.start();
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &c_session_status::expire);
}

void c_session_status::set_channel(const QString& name, channel_state state, int attempt, const QString& reason)
{
    auto it = std::find_if(m_down.begin(), m_down.end(), [&](const down_channel& d) { return d.name == name; });
    switch (state) {
    case channel_state::connected:
        if (it == m_down.end())
            return;
        m_down.erase(it);
        notice(tr("%1 channel connected again").arg(name));
        emit channel_up_again(name);
        break;
    case channel_state::opening:
        // Connected again, the opening not answered yet: still down.
        if (it == m_down.end())
            return;
        break;
    case channel_state::reconnecting:
    case channel_state::refused: {
        const bool fresh = it == m_down.end();
        if (fresh) {
            m_down.push_back(down_channel{name, state, attempt, reason, false});
            it = m_down.end() - 1;
        }
        const bool was_refused = !fresh && it->state == channel_state::refused;
        it->state = state;
        it->attempt = attempt;
        if (!reason.isEmpty())
            it->reason = reason;
        if (state == channel_state::refused) {
            if (!was_refused)
                notice(capitalised(reason) + QLatin1Char('.'));
        } else if (is_hint(it->reason) && !it->hint_noticed) {
            it->hint_noticed = true;
            notice(tr("%1 channel: %2.").arg(name, it->reason));
        } else if (fresh) {
            notice(tr("%1 channel lost (%2): reconnecting\u2026").arg(name, reason));
        }
        if (fresh)
            emit channel_down(name);
        break;
    }
    case channel_state::stalled:
    case channel_state::lost:
        return;
    }
    emit changed();
}

void c_session_status::set_answers_late(bool late)
{
    if (late == m_late)
        return;
    m_late = late;
    emit changed();
}

QString c_session_status::overlay_text() const
{
    if (m_down.empty())
        return QString();
    QStringList lines;
    const bool any_refused = std::any_of(m_down.begin(), m_down.end(),
                                         [](const down_channel& d) { return d.state == channel_state::refused; });
    const bool any_hint = std::any_of(m_down.begin(), m_down.end(), [](const down_channel& d) {
        return d.state != channel_state::refused && is_hint(d.reason);
    });
    if (any_refused)
        lines << tr("The device refused the login.");
    if (any_hint)
        lines << tr("The device closes the connection right after the opening: the key or the user in the launch "
                    "string may be wrong.");
    if (!any_refused && !any_hint)
        lines << tr("Connection to the device lost \u2014 reconnecting\u2026");
    for (const down_channel& d : m_down) {
        if (d.state == channel_state::refused)
            lines << tr("%1 channel: %2").arg(d.name, d.reason);
        else if (is_hint(d.reason))
            lines << tr("%1 channel, attempt %2 (closed after the opening)").arg(d.name).arg(d.attempt);
        else if (d.reason.isEmpty())
            lines << tr("%1 channel, attempt %2").arg(d.name).arg(d.attempt);
        else
            lines << tr("%1 channel, attempt %2 (%3)").arg(d.name).arg(d.attempt).arg(d.reason);
    }
    return lines.join(QLatin1Char('\n'));
}

bool c_session_status::offer_retry() const
{
    return !refused_channels().isEmpty();
}

QStringList c_session_status::refused_channels() const
{
    QStringList names;
    for (const down_channel& d : m_down)
        if (d.state == channel_state::refused)
            names << d.name;
    return names;
}

void c_session_status::notice(const QString& text, int shown_ms)
{
    if (text.isEmpty())
        return;
    m_waiting.push_back(timed_notice{text, shown_ms, 0});
    schedule();
    emit changed();
}

QStringList c_session_status::notices() const
{
    QStringList out;
    if (m_late)
        out << tr("The device does not answer \u2014 input is delayed.");
    for (const timed_notice& n : m_shown)
        if (out.size() < MAX_NOTICES)
            out << n.text;
    return out;
}

void c_session_status::expire()
{
    const qint64 now = m_clock.elapsed();
    const size_t before = m_shown.size();
    m_shown.erase(std::remove_if(m_shown.begin(), m_shown.end(), [now](const timed_notice& n) { return n.until <= now; }),
                  m_shown.end());
    const bool gone = m_shown.size() != before;
    schedule();
    if (gone)
        emit changed();
}

void c_session_status::schedule()
{
    // Waiting notices take free places; each is shown for its whole time from then on.
    const qint64 now = m_clock.elapsed();
    while (!m_waiting.empty() && int(m_shown.size()) < MAX_NOTICES) {
        timed_notice n = m_waiting.front();
        m_waiting.pop_front();
        n.until = now + n.shown_ms;
        m_shown.push_back(n);
    }
    if (m_shown.empty()) {
        m_timer->stop();
        return;
    }
    qint64 next = m_shown.front().until;
    for (const timed_notice& n : m_shown)
        next = std::min(next, n.until);
    m_timer->start(int(std::max<qint64>(0, next - now)));
}
