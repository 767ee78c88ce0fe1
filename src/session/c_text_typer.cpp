#include "session/c_text_typer.h"

#include <QMetaObject>

#include "log/log.h"
#include "session/c_km_channel.h"
#include "tools/key_mouse/c_xkb_typist.h"
#include "tools/key_mouse/km_messages.h"

struct c_text_typer::job
{
    struct item
    {
        c_xkb_typist::report r;
        bool counts = false;  // the last press of a character
    };
    std::unique_ptr<c_xkb_typist> typist;
    std::u32string text;
    size_t next_char = 0;
    std::deque<item> pending;  // the reports of the character being typed
    struct flight
    {
        uint64_t seq;
        bool counts;
    };
    std::deque<flight> in_flight;
    bool last_was_press = false;
    bool stopping = false;
    result res;
};

QString c_text_typer::result::summary() const
{
    if (complete && skipped == 0)
        return QStringLiteral("typed %1 characters").arg(typed);
    QString s = QStringLiteral("typed %1 of %2 characters").arg(typed).arg(total);
    if (!reason.isEmpty())
        s += QStringLiteral("; ") + reason;
    if (skipped > 0)
        s += QStringLiteral("; %1 skipped (the remote layout has no key for %2)")
                 .arg(skipped)
                 .arg(skipped_names.join(QStringLiteral(", ")));
    return s;
}

c_text_typer::c_text_typer(c_km_channel* km, std::function<bool()> may_write, QObject* parent)
    : QObject(parent), m_km(km), m_may_write(std::move(may_write))
{
    if (!m_km)
        return;
    // The channel's threads only note what happened; this thread reads it
    // once per wake-up, however many reports were taken meanwhile.
    m_km->set_progress_handler([this](uint64_t taken, uint64_t losses) {
        if (!m_active.load())
            return;
        if (losses != m_losses_at_start.load())
            m_lost.store(true);
        else if (taken > m_taken.load())
            m_taken.store(taken);
        if (!m_posted.exchange(true))
            QMetaObject::invokeMethod(this, &c_text_typer::on_channel_progress, Qt::QueuedConnection);
    });
}

c_text_typer::~c_text_typer()
{
    if (m_km)
        m_km->set_progress_handler(nullptr);
}

QString c_text_typer::describe(char32_t c)
{
    const QString code = QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
    const QString ch = QString::fromUcs4(&c, 1);
    if (c < 0x20 || (c >= 0x7f && c < 0xa0) || !ch.at(0).isPrint())
        return code;
    return ch + QStringLiteral(" (") + code + QLatin1Char(')');
}

QStringList c_text_typer::untypable_names(const c_xkb_typist& typist, const QString& text)
{
    QStringList out;
    std::u32string seen;
    for (char32_t c : text.toStdU32String()) {
        if (c == U'\r' || seen.find(c) != std::u32string::npos)
            continue;
        if (typist.strokes(c).empty()) {
            seen.push_back(c);
            out << describe(c);
        }
    }
    return out;
}

QString c_text_typer::refusal() const
{
    if (m_job)
        return QStringLiteral("another text is being typed");
    if (!m_km || m_km->state() != channel_state::connected)
        return QStringLiteral("the keyboard channel is down");
    if (m_may_write && !m_may_write())
        return QStringLiteral("no write privilege");
    return QString();
}

bool c_text_typer::start(const QString& text, const QString& layout, QString* why)
{
    QString no = refusal();
    auto typist = std::make_unique<c_xkb_typist>(layout.toStdString());
    if (no.isEmpty() && !typist->valid())
        no = QStringLiteral("the remote layout \"%1\" is not known to XKB").arg(layout);
    if (!no.isEmpty()) {
        if (why)
            *why = no;
        return false;
    }
    m_job = std::make_unique<job>();
    job& j = *m_job;
    j.res.skipped_names = untypable_names(*typist, text);
    j.typist = std::move(typist);
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    j.text = normal.toStdU32String();
    j.res.total = int(j.text.size());
    LOG_INFO("typing %d characters, layout %s", j.res.total, layout.toUtf8().constData());

    m_lost.store(false);
    m_posted.store(false);
    m_losses_at_start.store(m_km->losses());
    m_taken.store(m_km->taken_seq());
    m_active.store(true);
    // A loss between the state check and now counts too.
    if (m_km->state() != channel_state::connected)
        m_lost.store(true);
    pump();
    return true;
}

void c_text_typer::cancel()
{
    if (m_job && !m_job->stopping)
        stop(QStringLiteral("cancelled"));
}

int c_text_typer::typed() const
{
    return m_job ? m_job->res.typed : 0;
}

int c_text_typer::total() const
{
    return m_job ? m_job->res.total : 0;
}

void c_text_typer::on_channel_progress()
{
    m_posted.store(false);
    if (!m_job)
        return;
    job& j = *m_job;
    const uint64_t taken = m_taken.load();
    int before = j.res.typed;
    while (!j.in_flight.empty() && j.in_flight.front().seq <= taken) {
        if (j.in_flight.front().counts)
            ++j.res.typed;
        j.in_flight.pop_front();
    }
    if (j.res.typed != before)
        emit progress(j.res.typed, j.res.total);
    if (m_lost.load()) {
        // What waited went with the connection.
        j.in_flight.clear();
        j.last_was_press = false;
        if (!j.stopping)
            stop(lost_reason());
        else
            finish();
        return;
    }
    pump();
}

QString c_text_typer::lost_reason() const
{
    // The channel also drops what waits when the device takes the privilege away.
    if (m_may_write && !m_may_write())
        return QStringLiteral("write privilege was lost");
    // A report the device took but had not yet answered when the connection
    // went cannot be known here: the count is what it answered.
    return QStringLiteral("the keyboard channel was lost (one more character may have arrived)");
}

void c_text_typer::pump()
{
    if (!m_job)
        return;
    job& j = *m_job;
    if (j.stopping) {
        if (j.in_flight.empty())
            finish();
        return;
    }
    if (m_lost.load()) {
        j.in_flight.clear();
        stop(lost_reason());
        return;
    }
    while (j.in_flight.size() < REPORTS_AHEAD) {
        if (j.pending.empty()) {
            // The next character the layout can type.
            while (j.next_char < j.text.size() && j.pending.empty()) {
                const std::vector<hid_stroke> strokes = j.typist->strokes(j.text[j.next_char++]);
                if (strokes.empty()) {
                    ++j.res.skipped;
                    continue;
                }
                for (size_t i = 0; i < strokes.size(); ++i) {
                    job::item press{{strokes[i].modifiers, 0, km_report_usage(strokes[i].usage), 0, 0, 0, 0, 0},
                                    i + 1 == strokes.size()};
                    j.pending.push_back(press);
                    j.pending.push_back(job::item{});
                }
            }
            if (j.pending.empty())
                break;
        }
        if (m_may_write && !m_may_write()) {
            stop(QStringLiteral("write privilege was lost"));
            return;
        }
        const job::item it = j.pending.front();
        const uint64_t seq = m_km->send_counted(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, it.r.data());
        if (seq == 0) {
            // Those handed over before may still have arrived: the loss's
            // notification settles them.
            stop(lost_reason());
            return;
        }
        j.pending.pop_front();
        j.last_was_press = it.r[2] != 0;
        j.in_flight.push_back({seq, it.counts});
    }
    if (j.pending.empty() && j.next_char >= j.text.size() && j.in_flight.empty())
        finish();
}

void c_text_typer::stop(const QString& reason)
{
    job& j = *m_job;
    j.stopping = true;
    j.res.reason = reason;
    // Never leave a key down on the remote computer.
    if (j.last_was_press) {
        const unsigned char up[KM_KEYBOARD_LEN] = {};
        m_km->send(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, up);
        j.last_was_press = false;
    }
    if (j.in_flight.empty())
        finish();
}

void c_text_typer::finish()
{
    std::unique_ptr<job> j = std::move(m_job);
    m_active.store(false);
    // Skipped characters after the stop were never looked at.
    j->res.complete = j->res.reason.isEmpty();
    LOG_INFO("typing: %s", j->res.summary().toUtf8().constData());
    emit finished(j->res);
}
