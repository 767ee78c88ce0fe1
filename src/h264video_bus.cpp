// The session-bus interface for scripts (src/bus): the window only hands it
// the parts of the session it keeps itself.
#include <QAction>
#include <QSignalBlocker>

#include "bus/c_session_bus.h"
#include "h264video.h"
#include "log/log.h"
#include "session/c_km_channel.h"
#include "session/c_text_typer.h"
#include "session/c_video_channel.h"
#include "session_params.h"
#include "tools/decoder/c_video_pipeline.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/record/c_stream_recorder.h"
#include "ui/c_ui_u_setting_dlg.h"

void H264Video::setupBus()
{
    c_session_hooks h;
    h.km = m_km.get();
    h.typer = m_typer.get();
    h.may_write = [this] { return m_writePrivilege.load() == 1; };
    h.remote_layout = [this] { return m_remoteLayout; };
    h.absolute_mouse = [] { return g_para.mouseMode == 1; };
    h.picture_size = [this] { return decodedSize(); };
    h.picture = [this] {
        const std::shared_ptr<c_video_pipeline> p = currentPipeline();
        return p ? p->snapshot() : QImage();
    };
    h.status = [this] {
        QVariantMap s;
        s.insert(QStringLiteral("video"),
                 QString::fromLatin1(channel_state_name(m_video ? m_video->state() : channel_state::lost)));
        c_media_protocol* media = m_mediaDialog ? &m_mediaDialog->protocol() : nullptr;
        s.insert(QStringLiteral("media"), QString::fromLatin1(channel_state_name(media ? media->state()
                                                                                        : channel_state::lost)));
        const bool mapped = media && media->is_mapped();
        s.insert(QStringLiteral("mapped"), mapped ? QString::fromLocal8Bit(media->mapped_path().c_str()) : QString());
        s.insert(QStringLiteral("readOnly"), mapped && media->read_only());
        s.insert(QStringLiteral("mapProgress"), mapped ? media->progress_percent() : 0);
        const bool recording = m_recorder && m_recorder->recording();
        s.insert(QStringLiteral("recording"), recording);
        const std::vector<std::string> files = m_recorder ? m_recorder->files() : std::vector<std::string>();
        s.insert(QStringLiteral("recordingFile"),
                 recording && !files.empty() ? QString::fromStdString(files.back()) : QString());
        return s;
    };
    h.key_sequence = [this](const QString& name, std::vector<int>& keys) {
        if (!m_sysKeyMap.contains(name))
            return false;
        keys.clear();
        for (const SYSTEMKEYINFO& k : m_sysKeyMap.value(name))
            keys.push_back(k.value);
        return !keys.empty();
    };
    h.chord_report = [this](const std::vector<int>& keys, unsigned char* report) {
        if (m_keyTranslator)
            m_keyTranslator->sequenceReport(keys, report);
        else
            c_key_translator().sequenceReport(keys, report);
    };
    h.map = [this](const QString& path, bool readOnly, QString* why) {
        if (!m_mediaDialog) {
            *why = QStringLiteral("no media channel");
            return false;
        }
        return m_mediaDialog->map_image(path, readOnly, why);
    };
    h.unmap = [this] {
        if (m_mediaDialog)
            m_mediaDialog->on_slot_unmap();
    };
    h.record_start = [this](QString* why) {
        if (!m_recorder->recording())
            ui.actionRecord->setChecked(true);
        if (!m_recorder->recording())
            *why = QStringLiteral("recording did not start (see the viewer's notice line)");
        return m_recorder->recording();
    };
    h.record_stop = [this] { ui.actionRecord->setChecked(false); };

    m_bus = std::make_unique<c_session_bus>(std::move(h));
    QString why;
    if (!m_bus->publish(&why)) {
        // The viewer works as before; only scripts cannot reach it.
        LOG_INFO("session bus interface not offered: %s", why.toUtf8().constData());
        m_bus.reset();
    }
}
