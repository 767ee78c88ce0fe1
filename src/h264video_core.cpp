// The main window's core: construction and destruction in their fixed orders,
// session start, the window's timers and the KM channel.
#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimerEvent>
#include <cstdio>
#include <cstdlib>

#include "h264video.h"
#include "log/log.h"
#include "session_params.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/c_mouse_translator.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_socket_pair.h"
#include "tools/socket/c_socket_recv_km1.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/tick_count.h"
#include "ui/c_config_file.h"
#include "ui/c_ui_u_setting_dlg.h"
#include "ui/mouse_rate.h"

namespace {

const int KEEPALIVE_PERIOD_MS = 10000;
const int PRIV_POLL_PERIOD_MS = 1;
const int NO_SIGNAL_CHECK_MS = 1000;
const unsigned KM_ANSWER_WAIT_MS = 200;
const int CONNECT_TIMEOUT_MS = 2000;

QString appFile(const char* name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1(name));
}

}  // namespace

H264Video::H264Video(QWidget* parent, Qt::WindowFlags flags) : QMainWindow(parent, flags)
{
    // The form and its tool bar.
    ui.setupUi(this);

    connect(ui.actionFullScreen, &QAction::triggered, this, &H264Video::on_full_screen);
    m_noSignalImage.load(QStringLiteral(":/image/Resources/nosignal.png"));
    if (!m_noSignalImage.isNull())
        m_frameSize = m_noSignalImage.size();
    ui.label->setMouseTracking(true);
    installEventFilter(this);
    ui.label->installEventFilter(this);

    loadConfigFile();

    m_videoOrigin = QPoint(0, 0);
    m_backgroundColor = ui.label->palette().color(ui.label->backgroundRole());

    readClientSize();
    ui.label->setScaledContents(false);
    ui.toolBar->setOrientation(Qt::Vertical);
    ui.actionGrab->setEnabled(false);

    // The other six tool bar actions (full screen is connected above; grab never triggers).
    connect(ui.actionAlign, &QAction::triggered, this, &H264Video::on_slot_mouse_align);
    connect(ui.actionVideo_Config, &QAction::triggered, this, &H264Video::on_slot_show_video_seting);
    connect(ui.actionMedia, &QAction::triggered, this, &H264Video::on_slot_u_setting_show);
    connect(ui.actionMouseHide, &QAction::triggered, this, &H264Video::on_slot_mouseShow);
    connect(ui.actionSetKey, &QAction::triggered, this, &H264Video::onKeySetting);
    connect(ui.actionOptRes, &QAction::triggered, this, &H264Video::on_slot_optRes);

    setupKeyMenu();
    setupRecording();

    m_ledHoldUntil = QDateTime::currentDateTime();
    setupLedSync();

    startSession();

    if (g_para.mouseMode == 1)
        ui.actionAlign->setVisible(false);
    ui.actionGrab->setEnabled(false);
}

H264Video::~H264Video()
{
    // 0. A recording is closed with its index while everything still stands.
    stopRecording(QString());
    // 1. Timers that could still reach the channels.
    if (m_sampleTimer) {
        killTimer(m_sampleTimer);
        m_sampleTimer = 0;
    }
    if (m_privTimer) {
        killTimer(m_privTimer);
        m_privTimer = 0;
    }

    // 2. The thread that took over the KM messages from a lost media channel;
    //    a wait for a KM answer is cut short. Then the virtual media dialog:
    //    its destructor ends the media channel and with it the media send
    //    thread that calls sync().
    {
        std::unique_ptr<c_sync_thread> flusher;
        {
            std::lock_guard<std::mutex> g(m_kmFlushLock);
            m_closing = true;
            flusher = std::move(m_kmFlusher);
        }
        if (flusher) {
            flusher->stop();
            m_kmAnswerEvent.set();
            flusher.reset();
        }
    }
    delete m_mediaDialog;
    m_mediaDialog = nullptr;

    // 3. The KM channel. The receive thread calls HandleKMData on this window, so
    //    it must have ended before any member goes: stop it and wait.
    {
        std::lock_guard<std::mutex> g(m_kmSendLock);
        m_kmSocket.reset();
    }
    if (m_kmRecvThread) {
        c_socket_thread::destroy(m_kmRecvThread);
        m_kmRecvThread = nullptr;
    }

    // 4. The video channel.
    m_videoSocket.reset();
    videoStop();

    // 5. Members go in reverse order; the thread pair's deleters end and delete
    //    the video threads before the decoder they use.
    m_videoThreads.reset();
}

void H264Video::loadConfigFile()
{
    c_config_file config(appFile("config.xml"));
    config.load(mouseRate);
}

void H264Video::startSession()
{
    if (!create_km_socket(g_para.ip, g_para.portKM))
        return;
    LOG_INFO("create_km_socket success.");

    // The virtual media dialog connects the media channel and stays hidden. Its
    // send thread is the one that sends the queued KM messages, through sync().
    m_mediaDialog = new c_ui_u_setting_dlg(this);
    m_mediaDialog->set_syncer(this);

    m_mouseTranslator = std::make_shared<c_mouse_translator>();
    m_keyTranslator = std::make_shared<c_key_translator>();

    videoOpen();

    m_keepAliveTimer = startTimer(KEEPALIVE_PERIOD_MS);
    m_privTimer = startTimer(PRIV_POLL_PERIOD_MS);
    m_noSignalTimer = startTimer(NO_SIGNAL_CHECK_MS);
}

void H264Video::failConnect(const char* text)
{
    QMessageBox::information(this, tr("Error"), tr(text), QMessageBox::Ok, QMessageBox::NoButton);
    // Ends at once, without teardown: other threads may be running already.
    std::fflush(nullptr);
    std::_Exit(0);
}

void H264Video::timerEvent(QTimerEvent* event)
{
    const int id = event->timerId();
    if (id == m_keepAliveTimer) {
        prependKmMessage(CMD_KM_KEEPALIVE);
    } else if (id == m_noSignalTimer) {
        // Unsigned difference, so a wrapping tick counter does not matter.
        if (get_tick_count() - m_lastRenderTick > uint32_t(NO_SIGNAL_CHECK_MS)) {
            if (!m_noSignalShown)
                LOG_WARN("no picture from the device for %d ms: no signal", NO_SIGNAL_CHECK_MS);
            m_noSignalShown = true;
            on_slot_decode_one_frame(m_noSignalImage);
        }
    } else if (id == m_privTimer) {
        onPrivTimer();
    } else if (id == m_sampleTimer) {
        onSampleTimer();
    }
}

void H264Video::focusInEvent(QFocusEvent*) {}

void H264Video::focusOutEvent(QFocusEvent*) {}

void H264Video::paintEvent(QPaintEvent*) {}

// ---------------------------------------------------------------- KM channel

bool H264Video::create_km_socket(const char* host, unsigned int port)
{
    m_kmSocket = std::make_shared<c_tcp_sock>();
    LOG_INFO("H264Video::create_km_socket:%s port:%u", host, port);
    m_kmSocket->startup();
    m_kmSocket->set_address(host, uint16_t(port));
    if (m_kmSocket->create_sock(nullptr, 0, CONNECT_TIMEOUT_MS) != 1)
        failConnect("KM connect error.");

    if (m_kmRecvThread) {
        c_socket_thread::destroy(m_kmRecvThread);
        m_kmRecvThread = nullptr;
    }
    m_kmRecvThread = new c_socket_recv_km1(m_kmSocket);
    m_kmRecvThread->set_handler(this);
    // Nothing acts on a closed KM channel; the log says when it happened.
    connect(m_kmRecvThread, &c_socket_recv_km1::socket_close, m_kmRecvThread,
            [] { LOG_WARN("km socket closed by the device"); }, Qt::DirectConnection);
    m_kmRecvThread->start(QThread::InheritPriority);

    const auto user = km_userid_payload(g_para.userID);
    sendKmMessage(CMD_KM_USERID, KM_USERID_LEN, user.data());
    LOG_INFO("km send userID");
    const unsigned char ask = 0;
    sendKmMessage(CMD_KM_PRIVILEGE, KM_ONE_BYTE_LEN, &ask);
    return true;
}

void H264Video::sendKmMessage(unsigned char type, int length, const unsigned char* payload)
{
    if (length < 0 || (length > 0 && !payload))
        return;
    std::vector<uint8_t> frame = build_km_frame(type, payload, uint32_t(length), g_para.desDecode.key);
    if (frame.empty())
        return;
    {
        std::lock_guard<std::mutex> g(m_kmSendLock);
        m_kmSendQueue.push_back(std::move(frame));
    }
    // The media send thread may be idle waiting for media work.
    wake_sync_thread();
}

void H264Video::prependKmMessage(unsigned char type)
{
    const unsigned char zero = 0;
    std::vector<uint8_t> frame = build_km_frame(type, &zero, 1, g_para.desDecode.key);
    if (frame.empty())
        return;
    {
        std::lock_guard<std::mutex> g(m_kmSendLock);
        m_kmSendQueue.push_front(std::move(frame));
    }
    // The media send thread may be idle waiting for media work.
    wake_sync_thread();
}

void H264Video::clearKmQueue()
{
    std::lock_guard<std::mutex> g(m_kmSendLock);
    m_kmSendQueue.clear();
}

bool H264Video::sync()
{
    std::vector<uint8_t> frame;
    std::shared_ptr<c_tcp_sock> sock;
    {
        std::lock_guard<std::mutex> g(m_kmSendLock);
        if (m_kmSendQueue.empty())
            return false;
        frame = std::move(m_kmSendQueue.front());
        m_kmSendQueue.pop_front();
        sock = m_kmSocket;
    }

    const int type = km_frame_type(frame.data(), uint32_t(frame.size()), g_para.desDecode.key);
    const bool awaitAnswer = type != CMD_KM_KEEPALIVE && type != CMD_KM_GIVEUP && type != CMD_KM_GRAB_RESULT;
    // Armed before sending: a quick answer must not slip in between.
    if (awaitAnswer) {
        m_kmAnswerEvent.reset();
        m_kmAwaitingAnswer.store(1);
    }

    if (!sock || sock->tcp_send(frame.data(), int(frame.size())) == -1) {
        m_kmAwaitingAnswer.store(0);
        LOG_ERROR("***********************m_pTcpSocket->write failed.");
        return true;
    }
    if (awaitAnswer) {
        const bool answered = m_kmAnswerEvent.wait(KM_ANSWER_WAIT_MS);
        m_kmAwaitingAnswer.store(0);
        if (!answered && !m_kmAnswerMissed)
            LOG_WARN("no KM answer from the device within %u ms (type %d); later messages go on without it",
                     KM_ANSWER_WAIT_MS, type);
        m_kmAnswerMissed = !answered;
    }
    return true;
}

std::atomic<bool> H264Video::s_kmTakeover{true};

void H264Video::sync_thread_lost()
{
    std::lock_guard<std::mutex> g(m_kmFlushLock);
    if (m_closing || m_kmFlusher || !s_kmTakeover.load())
        return;
    // Without this every key and mouse move from now on would stay queued,
    // unsent, for the rest of the session.
    LOG_WARN("no media channel: keyboard and mouse messages go on through a thread of their own");
    m_kmFlusher = std::make_unique<c_sync_thread>(this);
    // Created on the ending media send thread; owned and deleted by the window.
    m_kmFlusher->moveToThread(thread());
    m_kmFlusher->start();
}

void H264Video::HandleKMData(const void* sender, const unsigned char* data, unsigned int plainLenField,
                             unsigned int len)
{
    Q_UNUSED(sender);
    Q_UNUSED(plainLenField);
    if (data && len >= 1) {
        const unsigned char t = data[0];
        switch (t) {
        case CMD_KM_KEYBOARD:
            if (len >= 2 && data[1] == 1)
                LOG_ERROR("send keyboard return failed.");
            break;
        case CMD_KM_MOUSE_REL:
            if (len >= 2 && data[1] == 1)
                LOG_ERROR("send mouse pos return failed.");
            break;
        case CMD_KM_GRAB:
        case CMD_KM_GIVEUP:
        case CMD_KM_GRAB_RESULT:
        case CMD_KM_PRIVILEGE:
            handlePrivilegeMessage(data, len);
            break;
        case CMD_KM_USERID:
            if (len >= 2)
                LOG_INFO("km recv userID  ack,value=%d", int(data[1]));
            break;
        default:
            LOG_DEBUG("KM message type %u of %u bytes ignored", unsigned(t), len);
            break;
        }
    }
    // Whatever it was, it answers the message being waited for.
    if (m_kmAwaitingAnswer.load())
        m_kmAnswerEvent.set();
}

// ------------------------------------------------------ slots of other roles

void H264Video::on_slot_u_setting_show()
{
    // Application-modal by its form: the window waits while it is open.
    if (m_mediaDialog)
        m_mediaDialog->show();
}
