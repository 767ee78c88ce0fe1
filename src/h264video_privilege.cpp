// Control privilege: the device tells this client whether it may drive the
// remote keyboard and mouse. Messages arrive on the KM receive thread; what
// they change on the window (timers, icon, the give-up question) is done on
// the GUI thread, with the receive thread waiting until it is done.
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QThread>
#include <mutex>

#include "h264video.h"
#include "log/log.h"
#include "session_params.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_socket_thread.h"

namespace {

const unsigned PRIV_WAIT_SLICE_MS = 100;

const unsigned char GIVEUP_AGREED = 0;
const unsigned char GIVEUP_REFUSED = 1;
const unsigned char GRAB_ACK = 0;

}  // namespace

// ------------------------------------------------------ KM receive thread

void H264Video::handlePrivilegeMessage(const unsigned char* data, unsigned int len)
{
    if (!data || len < 1)
        return;
    switch (data[0]) {
    case CMD_KM_PRIVILEGE:
        if (len < 2)
            return;
        // Only 1 means write; any other value is read, here and in the filter.
        m_writePrivilege.store(data[1] == 1 ? 1 : 0);
        postPrivRequest(PRIV_STATE, data[1]);
        break;
    case CMD_KM_GIVEUP:
        LOG_INFO("mouse privilege ask grab.");
        postPrivRequest(PRIV_GIVEUP, 0);
        break;
    case CMD_KM_GRAB_RESULT:
        if (len < 2)
            return;
        LOG_INFO("grab KM privilege OK");
        postPrivRequest(PRIV_GRAB_RESULT, data[1]);
        break;
    default:  // CMD_KM_GRAB: recognised, nothing to do
        break;
    }
}

void H264Video::postPrivRequest(int kind, int value)
{
    m_privRequestKind.store(kind);
    m_privRequestValue.store(value);
    m_privRequestDone.reset();
    m_privRequestPending.store(1);

    // Nothing else is read from the KM channel until the GUI thread is done,
    // however long the user takes to answer. A receive thread that is being
    // stopped (the window is closing) gives up waiting.
    const c_socket_thread* self = qobject_cast<const c_socket_thread*>(QThread::currentThread());
    while (!m_privRequestDone.wait(PRIV_WAIT_SLICE_MS)) {
        if (self && !self->run_flag())
            return;
    }
}

// ------------------------------------------------------------- GUI thread

void H264Video::onPrivTimer()
{
    if (!m_privRequestPending.load() || m_privHandling)
        return;
    m_privHandling = true;
    handlePrivRequest();
    m_privHandling = false;
    // Cleared before the signal: a request posted right after it is not lost.
    m_privRequestPending.store(0);
    m_privRequestDone.set();
}

void H264Video::handlePrivRequest()
{
    const int value = m_privRequestValue.load();
    switch (m_privRequestKind.load()) {
    case PRIV_STATE:
        if (value == 1) {
            gainWritePrivilege();
            // The icon follows the state both ways, also after a read state.
            setGrabIcon(true);
        } else {
            setGrabIcon(false);
            loseWritePrivilege();
            releaseHeldInput(false);
        }
        break;

    case PRIV_GIVEUP: {
        const QMessageBox::StandardButton answer =
            QMessageBox::question(this, QString(), tr("do you want to giveUp privWrite"),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        unsigned char reply;
        if (answer == QMessageBox::Yes) {
            // Let go of everything while the device still takes our reports.
            releaseHeldInput(false);
            m_writePrivilege.store(0);
            loseWritePrivilege();
            setGrabIcon(false);
            LOG_INFO("priv pleaseGiveup_admit");
            reply = GIVEUP_AGREED;
        } else {
            reply = GIVEUP_REFUSED;
            LOG_INFO("Priv pleaseGiveup_refuse");
        }
        sendKmMessage(CMD_KM_GIVEUP, KM_ONE_BYTE_LEN, &reply);
        break;
    }

    case PRIV_GRAB_RESULT: {
        const bool granted = value == 0;
        if (granted) {
            m_writePrivilege.store(1);
            gainWritePrivilege();
            setGrabIcon(true);
        } else {
            m_writePrivilege.store(0);
            setGrabIcon(false);
            loseWritePrivilege();
        }
        // Reports still waiting are dropped; if a key report is among them the
        // device may now hold a key whose release was dropped with it.
        bool keyReportsDropped = false;
        {
            std::lock_guard<std::mutex> g(m_kmSendLock);
            for (const std::vector<uint8_t>& f : m_kmSendQueue)
                if (km_frame_type(f.data(), uint32_t(f.size()), g_para.desDecode.key) == CMD_KM_KEYBOARD) {
                    keyReportsDropped = true;
                    break;
                }
        }
        clearKmQueue();
        const unsigned char ack = GRAB_ACK;
        sendKmMessage(CMD_KM_GRAB_RESULT, KM_ONE_BYTE_LEN, &ack);
        if (!granted)
            releaseHeldInput(keyReportsDropped);
        on_slot_mouse_align();
        if (granted && keyReportsDropped && m_keyTranslator) {
            // Tell the device which keys are really held now.
            sendKeyboardReport("keyRelease2,", m_keyTranslator->report());
        }
        break;
    }

    default:
        break;
    }
}

void H264Video::setGrabIcon(bool canGrab)
{
    ui.actionGrab->setIcon(QIcon(canGrab ? QStringLiteral(":/image/Resources/privCanGrab.png")
                                         : QStringLiteral(":/image/Resources/privCannotGrab.png")));
}

void H264Video::gainWritePrivilege()
{
    startSampleTimer();
    // The pointer may already be over the video: it gets the video's cursor now,
    // not only after leaving and entering again.
    if (!m_cursorPushed && ui.label->underMouse())
        enterVideo();
}

void H264Video::loseWritePrivilege()
{
    stopSampleTimer();
    m_mouseMoved = 0;
    // Without write privilege the label's leave event is not ours any more, so
    // the video's cursor would stay on the whole desktop.
    if (m_cursorPushed) {
        QApplication::restoreOverrideCursor();
        m_cursorPushed = false;
    }
}
