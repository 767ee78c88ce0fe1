// What the user can see of the session: the statistics overlay (top left,
// Ctrl+Alt+Shift+S or the tool bar's Statistics) and the notice line (bottom
// left) that says what went wrong without a box that would block input.
#include <QAction>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <algorithm>

#include "h264video.h"
#include "session/c_km_channel.h"
#include "session/c_session_status.h"
#include "session/c_video_channel.h"
#include "thread/c_media_protocol.h"
#include "tools/decoder/c_video_pipeline.h"
#include "ui/c_ui_u_setting_dlg.h"

namespace {

const int STATS_PERIOD_MS = 500;

// A channel's state in the interface language (the log keeps the English word).
QString state_text(channel_state s)
{
    switch (s) {
    case channel_state::connected: return QCoreApplication::translate("H264Video", "connected");
    case channel_state::reconnecting: return QCoreApplication::translate("H264Video", "reconnecting");
    case channel_state::stalled: return QCoreApplication::translate("H264Video", "stalled");
    case channel_state::lost: return QCoreApplication::translate("H264Video", "lost");
    case channel_state::opening: return QCoreApplication::translate("H264Video", "opening");
    case channel_state::refused: return QCoreApplication::translate("H264Video", "login refused");
    }
    return QString::fromLatin1(channel_state_name(s));
}

}  // namespace

void H264Video::setupStats()
{
    m_statsLabel = new QLabel(ui.label);
    m_statsLabel->setObjectName(QStringLiteral("statsOverlay"));
    m_statsLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_statsLabel->hide();
    setupSessionStatus();
    m_statsTimer = new QTimer(this);
    m_statsTimer->setInterval(STATS_PERIOD_MS);
    connect(m_statsTimer, &QTimer::timeout, this, &H264Video::refreshStats);
    ui.toolBar->addAction(ui.actionStats);
    connect(ui.actionStats, &QAction::toggled, this, &H264Video::setStatsShown);
}

void H264Video::setStatsShown(bool on)
{
    if (ui.actionStats->isChecked() != on) {
        ui.actionStats->setChecked(on);  // comes back here through toggled
        return;
    }
    if (!on) {
        m_statsTimer->stop();
        m_statsLabel->hide();
        return;
    }
    m_statsClock.start();
    m_statsLast = StatsSample{};
    m_statsLast.bytes = m_video ? m_video->bytes_received() : 0;
    m_statsLast.received = m_video ? m_video->pictures_received() : 0;
    m_statsLast.shown = m_picturesShown;
    refreshStats();
    m_statsLabel->show();
    m_statsLabel->raise();
    m_statsTimer->start();
}

void H264Video::noteShownPicture()
{
    ++m_picturesShown;
    if (m_video && m_statsTimer && m_statsTimer->isActive()) {
        const int64_t us = m_video->us_since_last_picture_byte();
        if (us >= 0)
            m_showLatencies.add(us);
    }
}

void H264Video::refreshStats()
{
    const qint64 now = m_statsClock.elapsed();
    const double secs = std::max<qint64>(1, now - m_statsLast.at) / 1000.0;
    StatsSample cur;
    cur.at = now;
    const std::shared_ptr<c_video_pipeline> pipeline = currentPipeline();
    cur.bytes = m_video ? m_video->bytes_received() : 0;
    cur.received = m_video ? m_video->pictures_received() : 0;
    cur.shown = m_picturesShown;

    const QSize size = decodedSize();
    QStringList lines;
    lines << tr("Remote picture  %1\u00d7%2").arg(size.width()).arg(size.height());
    lines << tr("Pictures/s      received %1, shown %2")
                 .arg((cur.received - m_statsLast.received) / secs, 0, 'f', 1)
                 .arg((cur.shown - m_statsLast.shown) / secs, 0, 'f', 1);
    lines << tr("Video           %1 Mbit/s").arg(double(cur.bytes - m_statsLast.bytes) * 8 / secs / 1e6, 0, 'f', 2);

    // Medians of the last second.
    const double decodeMs = m_video ? double(m_video->decode_median_us()) / 1000.0 : -1;
    const int64_t showUs = m_showLatencies.median();
    const double showMs = showUs < 0 ? -1 : double(showUs) / 1000.0;
    auto ms = [](double v) { return v < 0 ? QStringLiteral("\u2013") : QString::number(v, 'f', 1) + QStringLiteral(" ms"); };
    lines << tr("Decode (median) %1, last byte \u2192 shown %2").arg(ms(decodeMs), ms(showMs));
    const int64_t rtt = m_km ? m_km->answer_rtt_median_us() : -1;
    lines << tr("KM answer       %1").arg(ms(rtt < 0 ? -1 : double(rtt) / 1000.0));

    c_media_protocol* media = m_mediaDialog ? &m_mediaDialog->protocol() : nullptr;
    lines << tr("Channels        KM %1, video %2, media %3")
                 .arg(state_text(m_km ? m_km->state() : channel_state::lost),
                      state_text(m_video ? m_video->state() : channel_state::lost),
                      state_text(media ? media->state() : channel_state::lost));
    if (media && media->is_mapped()) {
        const uint64_t sectors = media->sectors_read() + media->sectors_written();
        cur.sectors = sectors;
        lines << tr("Media           %1%2").arg(QString::fromStdString(media->mapped_path()),
                                                 media->read_only() ? tr(" (read-only)") : QString());
        lines << tr("                %1 MB/s, %2 sectors read, %3 written, %4 local write failures")
                     .arg(double(sectors - std::min(sectors, m_statsLast.sectors)) * 512 / secs / 1e6, 0, 'f', 2)
                     .arg(media->sectors_read())
                     .arg(media->sectors_written())
                     .arg(media->write_failures());
    } else {
        lines << tr("Media           not mapped");
    }
    m_statsLast = cur;
    // Drawn once per refresh into a picture: the label sits over a view that
    // repaints with every video picture, and a blit costs far less than
    // laying out text sixty times a second.
    const QString text = lines.join(QLatin1Char('\n'));
    QFont font(QStringLiteral("monospace"));
    font.setStyleHint(QFont::Monospace);
    font.setPointSize(9);
    const QFontMetrics fm(font);
    const QRect bounds = fm.boundingRect(QRect(0, 0, 4000, 4000), Qt::AlignLeft | Qt::AlignTop, text);
    const qreal dpr = m_statsLabel->devicePixelRatioF();
    QPixmap pm((bounds.size() + QSize(12, 12)) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(QColor(0, 0, 0, 170));
    {
        QPainter p(&pm);
        p.setFont(font);
        p.setPen(QColor(240, 240, 240));
        p.drawText(QRect(QPoint(6, 6), bounds.size()), Qt::AlignLeft | Qt::AlignTop, text);
    }
    m_statsLabel->setPixmap(pm);
    m_statsLabel->setAccessibleName(text);
    m_statsLabel->adjustSize();
    m_statsLabel->move(8, 8);
}

void H264Video::showNotice(const QString& text)
{
    if (m_status)
        m_status->notice(text);
}

void H264Video::checkNotices()
{
    // Said once per change, so a lasting problem does not keep the line busy.
    c_media_protocol* media = m_mediaDialog ? &m_mediaDialog->protocol() : nullptr;
    // The media channel matters to the user while a disk is mapped: then its
    // loss shows like the others'.
    if (media) {
        const channel_state st = media->state();
        const bool down = st == channel_state::reconnecting || st == channel_state::refused;
        if (down && (media->is_mapped() || st == channel_state::refused))
            m_status->set_channel(QStringLiteral("media"), st, media->reconnect_attempts(),
                                  QString::fromStdString(media->state_reason()));
        else if (st == channel_state::connected || st == channel_state::stalled)
            m_status->set_channel(QStringLiteral("media"), channel_state::connected, 0, QString());
    }
    const bool stalled = media && media->state() == channel_state::stalled;
    if (stalled && !m_mediaStallNoticed)
        showNotice(tr("Virtual media: the device has not read or acknowledged anything for 10 s (stalled)."));
    m_mediaStallNoticed = stalled;
    const uint64_t failures = media ? media->write_failures() : 0;
    if (failures > m_writeFailuresNoticed)
        showNotice(tr("Virtual media: %1 local write failure(s)%2")
                       .arg(failures)
                       .arg(media->first_write_error().empty()
                                ? QString()
                                : tr(", first: %1").arg(QString::fromStdString(media->first_write_error()))));
    m_writeFailuresNoticed = failures;
}
