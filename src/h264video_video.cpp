// The video channel glue (connect, pictures, LED state) and what the window
// shows about the channels' state: a notice over the picture while one is
// down and being connected again.
#include <QLabel>
#include <QMetaObject>
#include <cstring>

#include "h264video.h"
#include "log/log.h"
#include "tools/record/c_stream_recorder.h"
#include "session/c_km_channel.h"
#include "session/c_video_channel.h"
#include "session_params.h"
#include "tools/decoder/c_video_pipeline.h"

bool H264Video::videoOpen()
{
    const QString badPort = session_port_problem(g_para.ip, g_para.portV);
    if (!badPort.isEmpty())
        failConnect(QT_TR_NOOP("Video connect error."), badPort.toStdString());
    c_video_channel::config cfg;
    cfg.ip = g_para.ip;
    cfg.port = uint16_t(g_para.portV);
    cfg.user_id = g_para.userID;
    std::memcpy(cfg.in_key, g_para.desEncode.key, sizeof cfg.in_key);
    m_video = std::make_unique<c_video_channel>(cfg);
    if (!m_video->connect())
        failConnect(QT_TR_NOOP("Video connect error."), m_video->error_text());

    connect(this, &H264Video::signal_decode_one_frame, this, &H264Video::on_slot_decode_one_frame,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
    m_video->set_picture_handler([this] { emit signal_decode_one_frame(QImage()); });
    m_video->set_pipeline_handler([this](const std::shared_ptr<c_video_pipeline>& p) {
        attachRecording(p);
        // A stream too large to show is refused before it takes memory; the
        // user is told why the picture does not come.
        p->set_refused_handler([this](const QSize& s) {
            QMetaObject::invokeMethod(
                this,
                [this, s] {
                    showNotice(tr("The remote picture is %1×%2: larger than the viewer can show (8192×4320 "
                                  "at most).")
                                   .arg(s.width())
                                   .arg(s.height()));
                },
                Qt::QueuedConnection);
        });
    });
    m_video->set_led_handler([this](uint8_t bits) { applyLedState(bits); });
    m_video->set_state_handler([this](channel_state st, int attempt, const std::string& reason) {
        const QString r = QString::fromStdString(reason);
        QMetaObject::invokeMethod(
            this, [this, st, attempt, r] { onChannelState(QStringLiteral("video"), st, attempt, r); },
            Qt::QueuedConnection);
    });
    m_video->start();
    return true;
}

std::shared_ptr<c_video_pipeline> H264Video::currentPipeline() const
{
    return m_video ? m_video->pipeline() : nullptr;
}

QSize H264Video::decodedSize() const
{
    const std::shared_ptr<c_video_pipeline> p = currentPipeline();
    return p ? p->decoded_size() : QSize(0, 0);
}

unsigned char H264Video::on_net_msg(const void* sender, const unsigned char* body, unsigned int plainLenField,
                                    unsigned int bodyLen)
{
    return m_video ? m_video->on_net_msg(sender, body, plainLenField, bodyLen) : 0;
}

// ------------------------------------------------------------ channel state

void H264Video::onChannelState(const QString& channel, channel_state state, int attempt, const QString& reason)
{
    auto it = std::find_if(m_downChannels.begin(), m_downChannels.end(),
                           [&](const DownChannel& d) { return d.name == channel; });
    if (state == channel_state::connected) {
        const bool wasDown = it != m_downChannels.end();
        if (wasDown) {
            m_downChannels.erase(it);
            showNotice(tr("%1 channel connected again").arg(channel));
        }
        // Nothing stays held on the remote computer: the channel has sent the
        // all-released reports; the window forgets what it thought was held.
        if (wasDown && channel == QLatin1String("KM"))
            releaseHeldInput(false);
    } else if (state == channel_state::reconnecting) {
        // A recording goes on across the break, from the next key frame.
        if (it == m_downChannels.end() && channel == QLatin1String("video") && m_recorder)
            m_recorder->mark_gap();
        if (it == m_downChannels.end()) {
            m_downChannels.push_back(DownChannel{channel, attempt, reason});
            showNotice(tr("%1 channel lost (%2): reconnecting\u2026").arg(channel, reason));
            if (channel == QLatin1String("KM"))
                releaseHeldInput(false);  // dropped while down; only the translators' state matters
        } else {
            it->attempt = attempt;
            if (!reason.isEmpty())
                it->reason = reason;
        }
    }
    updateConnectionOverlay();
}

void H264Video::updateConnectionOverlay()
{
    if (m_downChannels.empty()) {
        if (m_connOverlay)
            m_connOverlay->hide();
        return;
    }
    if (!m_connOverlay) {
        m_connOverlay = new QLabel(ui.label);
        m_connOverlay->setObjectName(QStringLiteral("connectionOverlay"));
        m_connOverlay->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_connOverlay->setAlignment(Qt::AlignCenter);
        m_connOverlay->setWordWrap(true);
        m_connOverlay->setStyleSheet(QStringLiteral(
            "QLabel { background-color: rgba(0, 0, 0, 180); color: white; padding: 12px; border-radius: 6px; "
            "font-size: 14pt; }"));
    }
    QString text = tr("Connection to the device lost \u2014 reconnecting\u2026");
    for (const DownChannel& d : m_downChannels) {
        text += QLatin1Char('\n') + tr("%1 channel, attempt %2").arg(d.name).arg(d.attempt);
        if (!d.reason.isEmpty())
            text += QStringLiteral(" (%1)").arg(d.reason);
    }
    m_connOverlay->setText(text);
    const QSize area = ui.label->size();
    const int w = std::min(area.width() - 20, 640);
    m_connOverlay->setFixedWidth(std::max(w, 100));
    m_connOverlay->adjustSize();
    m_connOverlay->move((area.width() - m_connOverlay->width()) / 2, (area.height() - m_connOverlay->height()) / 2);
    m_connOverlay->show();
    m_connOverlay->raise();
}
