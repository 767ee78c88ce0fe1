#pragma once
// Test access to the main window's session state (H264Video names this class
// its friend), plus helpers to read the KM frames it queues. For in-process
// window tests; they run on the offscreen platform unless a display is set.
#include <QApplication>
#include <QImage>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "h264video.h"
#include "session_params.h"
#include "tools/crypto/c_des.h"
#include "tools/socket/c_frame.h"
#include "session/c_km_channel.h"
#include "view/c_picture_view.h"

class H264VideoTestPeer
{
public:
    // The KM send list as it stands (framed, enciphered messages).
    static std::vector<std::vector<uint8_t> > kmQueue(H264Video& w)
    {
        return w.m_km ? w.m_km->queued() : std::vector<std::vector<uint8_t> >();
    }

    static QSize frameSize(H264Video& w) { return w.m_frameSize; }
    static QSize areaSize(H264Video& w) { return w.m_areaSize; }
    static QSize scaledSize(H264Video& w) { return w.m_scaledSize; }
    static QPoint videoOrigin(H264Video& w) { return w.m_videoOrigin; }
    static float scaleX(H264Video& w) { return w.m_scaleX; }
    static float scaleY(H264Video& w) { return w.m_scaleY; }
    static uint32_t lastRenderTick(H264Video& w) { return w.m_lastRenderTick; }
    static const QImage& noSignalImage(H264Video& w) { return w.m_noSignalImage; }
    static QSize decodedSize(H264Video& w) { return w.decodedSize(); }
    // The widget that paints the picture, pictures it has shown, and what it
    // shows (rendered as it paints the screen).
    static c_picture_view* pictureView(H264Video& w) { return w.pictureView(); }
    static uint64_t picturesShown(H264Video& w) { return w.m_pictureView ? w.m_pictureView->shown_count() : 0; }
    static QImage shownImage(H264Video& w)
    {
        if (!w.m_pictureView || w.m_pictureView->shown_count() == 0)
            return QImage();
        return w.m_pictureView->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // The decoding pipeline of the current video channel start (benchmarks count its pictures).
    static std::shared_ptr<c_video_pipeline> videoPipeline(H264Video& w) { return w.currentPipeline(); }
    // The virtual media dialog the window built (benchmarks map disks through it).
    static c_ui_u_setting_dlg* mediaDialog(H264Video& w) { return w.m_mediaDialog; }
    static int cursorShown(H264Video& w) { return w.m_cursorShown; }
    static uint8_t isFullScreen(H264Video& w) { return w.m_isFullScreen; }
    static uint8_t alignOnNextFrame(H264Video& w) { return w.m_alignOnNextFrame; }
    static void setAbsButtons(H264Video& w, int buttons) { w.m_absButtons = buttons; }

    // Connected, answered or not yet.
    static bool kmConnected(H264Video& w)
    {
        return w.m_km && (w.m_km->state() == channel_state::connected || w.m_km->state() == channel_state::opening);
    }
    static bool timersRunning(H264Video& w) { return w.m_noSignalTimer != 0; }
};

// A QApplication for the whole test program (offscreen unless told otherwise).
inline QApplication* test_application()
{
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return app;
}

// Type byte and payload of a KM frame the window built, deciphered with the
// outbound key unless it went in clear. Empty when malformed.
inline std::vector<uint8_t> km_plain_body(const std::vector<uint8_t>& frame)
{
    if (frame.size() < FRAME_HEADER_LEN)
        return {};
    const uint32_t plain = frame_plain_len(frame.data());
    const uint32_t wire = frame_wire_len(frame.data());
    if (frame.size() < FRAME_HEADER_LEN + wire)
        return {};
    std::vector<uint8_t> body(frame.begin() + FRAME_HEADER_LEN, frame.begin() + FRAME_HEADER_LEN + wire);
    // Enciphered bodies are whole blocks; anything else went in clear (type 50).
    if (wire % 8 != 0)
        return body;
    int len = int(wire);
    if (!des_decrypt_frame(g_para.desDecode.key, body.data(), body.data(), &len))
        return {};
    // Deciphering strips trailing 0x00/0x80 bytes; the plain length says how many were payload.
    body.resize(plain);
    return body;
}
