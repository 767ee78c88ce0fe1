// The video channel: open, start and stop, routing of the device's video
// messages, and the glue to the decoding pipeline.
#include "h264video.h"
#include "log/log.h"
#include "session_params.h"
#include "tools/decoder/c_video_pipeline.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_socket_factory.h"
#include "tools/socket/c_socket_pair.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

namespace {

enum : unsigned char
{
    VIDEO_LED_STATE = 4,
    VIDEO_DATA = 6,
    VIDEO_BEGIN_SET = 30,
    VIDEO_END_SET = 31,
    VIDEO_SET_POS = 32,
    VIDEO_USER_ID = 50
};

const int VIDEO_CHANNEL_KIND = 2;
const unsigned VIDEO_DATA_HEADER = 12;
const int CONNECT_TIMEOUT_MS = 2000;

enum : unsigned char
{
    STATUS_HANDLED = 0,
    STATUS_BAD_LENGTH = 3
};

}  // namespace

bool H264Video::videoOpen()
{
    m_videoSocket.reset();
    m_videoSocket = std::make_shared<c_tcp_sock>();
    m_videoSocket->startup();
    m_videoSocket->set_address(g_para.ip, uint16_t(g_para.portV));
    if (m_videoSocket->create_sock(nullptr, 0, CONNECT_TIMEOUT_MS) == 1) {
        videoStart();
        return true;
    }
    failConnect("Video connect error.");
}

void H264Video::videoStart()
{
    videoStop();
    m_videoThreads = std::make_shared<c_socket_pair>(m_videoSocket, &m_videoSendQueue, &m_videoSendWaker,
                                                     VIDEO_CHANNEL_KIND);
    setupDecoding();
    attachRecording();

    m_videoSendQueue.push(build_msg_50(g_para.userID));
    LOG_INFO("video userID send");

    if (m_videoThreads->recv_thread())
        m_videoThreads->recv_thread()->set_handler(this);
    m_videoThreads->start(QThread::InheritPriority, QThread::InheritPriority);
}

void H264Video::videoStop()
{
    if (m_videoThreads)
        m_videoThreads->stop();
    drain_and_free(m_videoSendQueue);
}

void H264Video::setupDecoding()
{
    m_videoPipeline.reset();
    connect(this, &H264Video::signal_decode_one_frame, this, &H264Video::on_slot_decode_one_frame,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
    m_videoPipeline = std::make_shared<c_video_pipeline>();
}

QSize H264Video::decodedSize() const
{
    return m_videoPipeline ? m_videoPipeline->decoded_size() : QSize(0, 0);
}

unsigned char H264Video::on_net_msg(const void* sender, const unsigned char* body, unsigned int plainLenField,
                                    unsigned int bodyLen)
{
    if (m_kmRecvThread && sender == static_cast<const void*>(m_kmRecvThread)) {
        HandleKMData(sender, body, plainLenField, bodyLen);
        return STATUS_HANDLED;
    }
    const unsigned char status = handleVideoMessage(body, bodyLen);
    // Ignored all the same, but a device that sends such messages is broken
    // or hostile: say so.
    if (status == STATUS_BAD_LENGTH)
        LOG_WARN("video message type %u of %u bytes ignored: wrong length", body && bodyLen ? unsigned(body[0]) : 0u,
                 bodyLen);
    return status;
}

unsigned char H264Video::handleVideoMessage(const unsigned char* body, unsigned int len)
{
    if (!body || len < 1)
        return STATUS_BAD_LENGTH;

    switch (body[0]) {
    case VIDEO_LED_STATE:
        if (len != 2)
            return STATUS_BAD_LENGTH;
        applyLedState(body[1]);
        return STATUS_HANDLED;

    case VIDEO_DATA: {
        // 64-bit sum: a device-given payload length near 4 GiB must not wrap.
        if (len < VIDEO_DATA_HEADER || uint64_t(len) != VIDEO_DATA_HEADER + uint64_t(read_be32(body + 8)))
            return STATUS_BAD_LENGTH;
        handleVideoData(body, len);
        return STATUS_HANDLED;
    }

    case VIDEO_BEGIN_SET:
    case VIDEO_END_SET:
    case VIDEO_SET_POS: {
        // The result byte is body byte 2; a shorter reply has none to read.
        if (len < 3)
            return STATUS_BAD_LENGTH;
        const char* name = body[0] == VIDEO_BEGIN_SET ? "beginSet" : body[0] == VIDEO_END_SET ? "endSet" : "setPos";
        LOG_INFO("videoSetting,%s,ack,%s", name, body[2] != 0 ? "fail" : "success");
        return STATUS_HANDLED;
    }

    case VIDEO_USER_ID:
        if (len < 2)
            return STATUS_BAD_LENGTH;
        LOG_INFO("video.userID.ack,%s", body[1] != 0 ? "fail" : "success");
        return STATUS_HANDLED;

    default:
        return STATUS_HANDLED;
    }
}

void H264Video::handleVideoData(const unsigned char* body, unsigned int len)
{
    // Decoding runs here, on the receive thread, so the next frame is not read
    // before this picture is in the hand-over.
    if (m_videoPipeline && m_videoPipeline->on_video_data(body, int(len)))
        emit signal_decode_one_frame(QImage());
}
