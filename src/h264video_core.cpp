// The main window's core: construction and destruction in their fixed orders,
// session start, the window's timers and the KM channel.
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimerEvent>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "h264video.h"
#include "platform/desktop_input.h"
#include "tools/key_mouse/c_character_keys.h"
#include "log/CLogerManager.h"
#include "log/log.h"
#include "session_params.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/c_mouse_translator.h"
#include "tools/key_mouse/km_messages.h"
#include "bus/c_session_bus.h"
#include "session/c_km_channel.h"
#include "session/c_session_status.h"
#include "session/c_text_typer.h"
#include "session/c_video_channel.h"
#include "tools/socket/tick_count.h"
#include "ui/c_config_file.h"
#include "ui/c_ui_u_setting_dlg.h"
#include "ui/mouse_rate.h"

namespace {

const int NO_SIGNAL_CHECK_MS = 1000;

QString appFile(const char* name)
{
    return kvm_paths::settings_file(QString::fromLatin1(name));
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
    setupDesktopInput();

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
    setupStats();
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
    stopSampleTimer();
    // 2. A give-up question still open is answered No by the close.
    if (m_giveupBox)
        m_giveupBox->done(QMessageBox::No);
    stopChannels();
}

void H264Video::stopChannels()
{
    // The media dialog first: its final unmap still goes out. Then the KM and
    // video channels; each joins its threads (the receive threads call into
    // this window, so they must have ended before any member goes).
    m_bus.reset();
    delete m_mediaDialog;
    m_mediaDialog = nullptr;
    m_typer.reset();
    m_km.reset();
    m_video.reset();
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

    // The virtual media dialog connects the media channel and stays hidden.
    m_mediaDialog = new c_ui_u_setting_dlg(this);

    m_mouseTranslator = std::make_shared<c_mouse_translator>();
    m_keyTranslator = std::make_shared<c_key_translator>();

    videoOpen();

    m_noSignalTimer = startTimer(NO_SIGNAL_CHECK_MS);
    setupBus();
}

void H264Video::failConnect(const char* text, const std::string& reason)
{
    QMessageBox box(QMessageBox::Information, tr("Error"), tr(text), QMessageBox::Ok, this);
    // The text stays as users know it; where and why goes on a line below.
    if (!reason.empty())
        box.setInformativeText(QString::fromStdString(reason));
    std::string what(text);
    if (!what.empty() && what.back() == '.')
        what.pop_back();
    LOG_ERROR("%s: %s", what.c_str(), reason.c_str());
    // Without a display (scripts) nobody could close the box: standard error
    // gets the text instead, and the process ends at once.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        std::fprintf(stderr, "%s: %s\n", what.c_str(), reason.c_str());
    else
        box.exec();
    // Ends at once, without teardown: other threads may be running already.
    // The logger's queue is written out first, so the reason reaches the log.
    CLogerManager::instance()->stop();
    std::fflush(nullptr);
    std::_Exit(0);
}

void H264Video::timerEvent(QTimerEvent* event)
{
    const int id = event->timerId();
    if (id == m_noSignalTimer) {
        // Unsigned difference, so a wrapping tick counter does not matter.
        if (get_tick_count() - m_lastRenderTick > uint32_t(NO_SIGNAL_CHECK_MS)) {
            if (!m_noSignalShown)
                LOG_WARN("no picture from the device for %d ms: no signal", NO_SIGNAL_CHECK_MS);
            m_noSignalShown = true;
            on_slot_decode_one_frame(m_noSignalImage);
        }
        checkNotices();
    } else if (id == m_sampleTimer) {
        onSampleTimer();
    }
}

void H264Video::focusInEvent(QFocusEvent*) {}

void H264Video::focusOutEvent(QFocusEvent*) {}

void H264Video::paintEvent(QPaintEvent*) {}

// ---------------------------------------------------------------- KM channel

std::atomic<bool> H264Video::s_kmOwnSender{true};

bool H264Video::create_km_socket(const char* host, unsigned int port)
{
    const QString badPort = session_port_problem(host, port);
    if (!badPort.isEmpty())
        failConnect(QT_TR_NOOP("KM connect error."), badPort.toStdString());
    LOG_INFO("H264Video::create_km_socket:%s port:%u", host, port);
    c_km_channel::config cfg;
    cfg.ip = host;
    cfg.port = uint16_t(port);
    cfg.user_id = g_para.userID;
    std::memcpy(cfg.out_key, g_para.desDecode.key, sizeof cfg.out_key);
    std::memcpy(cfg.in_key, g_para.desEncode.key, sizeof cfg.in_key);
    cfg.absolute_mouse = g_para.mouseMode == 1;
    m_km = std::make_unique<c_km_channel>(cfg);
    if (!m_km->connect())
        failConnect(QT_TR_NOOP("KM connect error."), m_km->error_text());

    m_km->set_message_handler([this](const unsigned char* body, unsigned plain, unsigned len) {
        HandleKMData(m_km.get(), body, plain, len);
    });
    m_km->set_state_handler([this](channel_state st, int attempt, const std::string& reason) {
        postChannelState(QStringLiteral("KM"), st, attempt, reason);
    });
    m_km->set_answer_state_handler([this] {
        QMetaObject::invokeMethod(
            this, [this] { m_status->set_answers_late(m_km && m_km->answers_late()); }, Qt::QueuedConnection);
    });
    // Queues the user id and then the privilege state request.
    m_km->start(s_kmOwnSender.load());
    m_typer = std::make_unique<c_text_typer>(m_km.get(), [this] { return m_writePrivilege.load() == 1; });
    return true;
}

void H264Video::sendKmMessage(unsigned char type, int length, const unsigned char* payload)
{
    if (m_km)
        m_km->send(type, length, payload);
}

void H264Video::prependKmMessage(unsigned char type)
{
    if (m_km)
        m_km->prepend(type);
}

size_t H264Video::kmQueueLength()
{
    return m_km ? m_km->queue_length() : 0;
}

void H264Video::clearKmQueue()
{
    if (m_km)
        m_km->clear();
}

bool H264Video::sync()
{
    return m_km && m_km->flush_one();
}

void H264Video::HandleKMData(const void* sender, const unsigned char* data, unsigned int plainLenField,
                             unsigned int len)
{
    Q_UNUSED(sender);
    Q_UNUSED(plainLenField);
    if (!data || len < 1)
        return;
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

// ------------------------------------------------------ slots of other roles

void H264Video::on_slot_u_setting_show()
{
    // Application-modal by its form: the window waits while it is open.
    if (m_mediaDialog)
        m_mediaDialog->show();
}
