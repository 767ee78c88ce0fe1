// The window's thin side of desktop integration (src/platform): the keyboard
// grab's real state in the tool bar and the notice line, the pointer lock's
// motion into the sampler, and the device's lock keys shown where the local
// LEDs cannot follow them.
#include <QAction>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>

#include "h264video.h"
#include "log/log.h"
#include "platform/desktop_input.h"
#include "session_params.h"

void H264Video::setupDesktopInput()
{
    m_desktop = std::make_unique<c_desktop_input>(ui.label);
    connect(m_desktop.get(), &c_desktop_input::keyboard_grab_changed, this, &H264Video::showKeyboardGrabState);
    connect(m_desktop.get(), &c_desktop_input::pointer_moved, this, [this] {
        if (m_alignOnNextMove) {
            on_slot_mouse_align();
            m_alignOnNextMove = 0;
        }
        m_mouseMoved = 1;  // the sampling timer sends it
        resumeSampling();
    });
    connect(m_desktop.get(), &c_desktop_input::pointer_lock_changed, this, [this](bool locked) {
        if (locked)
            showNotice(tr("Pointer locked to the remote computer: Ctrl+Alt+Shift+F12 sets it free"));
    });
}

namespace {

// The tool bar's keyboard with a dot for what the desktop answered: green
// granted, amber waiting, red refused or impossible; none when not wanted.
QIcon grabStateIcon(const QIcon& base, c_desktop_input::grab_state state)
{
    if (state == c_desktop_input::GRAB_OFF)
        return base;
    QPixmap pm = base.pixmap(32, 32);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colour = state == c_desktop_input::GRAB_ACTIVE    ? QColor(40, 170, 60)
                          : state == c_desktop_input::GRAB_PENDING ? QColor(230, 160, 20)
                                                                   : QColor(210, 40, 40);
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(colour);
    p.drawEllipse(QRectF(20, 18, 11, 11));
    p.end();
    return QIcon(pm);
}

}  // namespace

void H264Video::showKeyboardGrabState(int state)
{
    const QString text = c_desktop_input::grab_text(c_desktop_input::grab_state(state));
    if (m_grabKeyboardAction) {
        if (!m_grabKeyboardAction->property("baseIcon").isValid())
            m_grabKeyboardAction->setProperty("baseIcon", m_grabKeyboardAction->icon());
        m_grabKeyboardAction->setIcon(grabStateIcon(m_grabKeyboardAction->property("baseIcon").value<QIcon>(),
                                                    c_desktop_input::grab_state(state)));
        m_grabKeyboardAction->setStatusTip(text);
        m_grabKeyboardAction->setToolTip(m_grabKeyboardAction->property("baseToolTip").toString() + QLatin1Char('\n') +
                                         text);
    }
    showNotice(text);
}

void H264Video::showLockState(uint8_t bits)
{
    if (!m_lockIndicator)
        return;
    // Bits 0 Num, 1 Caps, 2 Scroll, as the device reports them.
    QStringList lines;
    const char* names[] = {"Num", "Caps", "Scroll"};
    for (int i = 0; i < 3; ++i) {
        const bool on = (bits >> i) & 1;
        lines << (on ? QStringLiteral("<b>%1</b>") : QStringLiteral("<span style=\"color:#888\">%1</span>"))
                         .arg(QString::fromLatin1(names[i]));
    }
    m_lockIndicator->setText(lines.join(QStringLiteral("<br>")));
    m_lockIndicator->setProperty("lockBits", int(bits & 7));
    LOG_INFO("device lock state %d shown", int(bits & 7));
}
