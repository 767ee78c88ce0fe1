// The video channel glue (connect, pictures, LED state) and the hand-over of
// the channels' state to the session status, which the overlay shows.
#include <QLabel>
#include <QMetaObject>
#include <cstring>

#include "h264video.h"
#include "log/log.h"
#include "tools/record/c_stream_recorder.h"
#include "session/c_km_channel.h"
#include "session/c_session_status.h"
#include "session/c_video_channel.h"
#include "thread/c_media_protocol.h"
#include "ui/c_ui_u_setting_dlg.h"
#include "view/c_session_overlay.h"
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
        postChannelState(QStringLiteral("video"), st, attempt, reason);
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

void H264Video::setupSessionStatus()
{
    m_status = new c_session_status(this);
    m_overlay = new c_session_overlay(ui.label);
    connect(m_status, &c_session_status::changed, this, [this] {
        m_overlay->set_box(m_status->overlay_text(), m_status->offer_retry());
        m_overlay->set_notices(m_status->notices());
    });
    connect(m_overlay, &c_session_overlay::retry_requested, this, &H264Video::retryRefusedChannels);
    connect(m_status, &c_session_status::channel_down, this, [this](const QString& channel) {
        // A recording goes on across the break, from the next key frame.
        if (channel == QLatin1String("video") && m_recorder)
            m_recorder->mark_gap();
        // Dropped while down; only the translators' state matters.
        if (channel == QLatin1String("KM"))
            releaseHeldInput(false);
    });
    connect(m_status, &c_session_status::channel_up_again, this, [this](const QString& channel) {
        // Nothing stays held on the remote computer: the channel has sent the
        // all-released reports; the window forgets what it thought was held.
        if (channel == QLatin1String("KM"))
            releaseHeldInput(false);
    });
}

void H264Video::postChannelState(const QString& channel, channel_state state, int attempt, const std::string& reason)
{
    const QString r = QString::fromStdString(reason);
    QMetaObject::invokeMethod(
        this, [this, channel, state, attempt, r] { m_status->set_channel(channel, state, attempt, r); },
        Qt::QueuedConnection);
}

void H264Video::retryRefusedChannels()
{
    for (const QString& name : m_status->refused_channels()) {
        if (name == QLatin1String("KM") && m_km)
            m_km->retry();
        else if (name == QLatin1String("video") && m_video)
            m_video->retry();
        else if (name == QLatin1String("media") && m_mediaDialog)
            m_mediaDialog->protocol().retry();
    }
}
