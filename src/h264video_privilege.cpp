// Control privilege: the device tells this client whether it may drive the
// remote keyboard and mouse. Messages arrive on the KM receive thread; what
// they change on the window (timers, icon, the give-up question) is done on
// the GUI thread as a queued call, with the receive thread waiting until it
// is done.
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QThread>
#include <mutex>

#include "h264video.h"
#include "platform/desktop_input.h"
#include "log/log.h"
#include "session_params.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/km_messages.h"
#include "session/c_km_channel.h"

namespace {

const unsigned char GIVEUP_AGREED = 0;
const unsigned char GIVEUP_REFUSED = 1;
const unsigned char GRAB_ACK = 0;

}  // namespace

// ------------------------------------------------------ KM receive thread

void H264Video::handlePrivilegeMessage(const unsigned char* data, unsigned int len)
{
    if (!data || len < 1)
        return;
    // A state or grab result is taken once its value byte is there: the device
    // may pad a message or add bytes after the value. Below that nothing is
    // acted on. The give-up request carries no value.
    switch (data[0]) {
    case CMD_KM_PRIVILEGE:
        if (len < 2) {
            LOG_WARN("privilege state message of %u bytes ignored", len);
            return;
        }
        // Only 1 means write; any other value is read, here and in the filter.
        m_writePrivilege.store(data[1] == 1 ? 1 : 0);
        postPrivRequest(PRIV_STATE, data[1]);
        break;
    case CMD_KM_GIVEUP:
        LOG_INFO("mouse privilege ask grab.");
        postPrivRequest(PRIV_GIVEUP, 0);
        break;
    case CMD_KM_GRAB_RESULT:
        if (len < 2) {
            LOG_WARN("grab result of %u bytes ignored", len);
            return;
        }
        LOG_INFO("grab KM privilege OK");
        postPrivRequest(PRIV_GRAB_RESULT, data[1]);
        break;
    default:  // CMD_KM_GRAB: recognised, nothing to do
        break;
    }
}

void H264Video::postPrivRequest(int kind, int value)
{
    if (!m_km)
        return;
    m_privRequestPending.fetch_add(1);
    // Nothing else is read from the KM channel until the GUI thread is done,
    // however long the user takes to answer. A receive thread that is being
    // stopped (closing, reconnecting) gives up waiting.
    m_km->hand_off(this, [this, kind, value] {
        handlePrivRequest(kind, value);
        m_privRequestPending.fetch_sub(1);
    });
}

// ------------------------------------------------------------- GUI thread

void H264Video::handlePrivRequest(int kind, int value)
{
    switch (kind) {
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
        unsigned char reply;
        if (m_giveupBox || (m_giveupAnswered.isValid() && m_giveupAnswered.elapsed() < 2000)) {
            // Asked again at once: the user has just answered; a device that
            // repeats the question must not keep it open for ever.
            reply = m_giveupLastReply;
            LOG_INFO("give-up request repeated within 2 s: answered %u again without asking", unsigned(reply));
            sendKmMessage(CMD_KM_GIVEUP, KM_ONE_BYTE_LEN, &reply);
            break;
        }
        QMessageBox box(QMessageBox::Question, QString(), tr("do you want to giveUp privWrite"),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        m_giveupBox = &box;
        const int answer = box.exec();
        m_giveupBox = nullptr;
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
        m_giveupLastReply = reply;
        m_giveupAnswered.start();
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
        const bool keyReportsDropped = m_km && m_km->keyboard_report_queued();
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
    if (!m_cursorPushed && ui.label->underMouse()) {
        enterVideo();
        lockPointerForRelativeMode();
    }
}

void H264Video::loseWritePrivilege()
{
    stopSampleTimer();
    m_mouseMoved = 0;
    if (m_desktop)
        m_desktop->set_pointer_locked(false);
    // Without write privilege the label's leave event is not ours any more, so
    // the video's cursor would stay on the whole desktop.
    if (m_cursorPushed) {
        QApplication::restoreOverrideCursor();
        m_cursorPushed = false;
    }
}
