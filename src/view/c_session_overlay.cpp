#include "view/c_session_overlay.h"

#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const int MARGIN = 8;
const int BOX_MAX_WIDTH = 640;
const int BOX_PADDING = 12;
// Point sizes tried, largest first, until the box fits the area.
const int BOX_POINT_SIZES[] = {14, 12, 10, 9, 8};

// Every line elided to width: the last resort when even the smallest font
// does not fit wrapped.
QString elide_lines(const QStringList& lines, const QFontMetrics& fm, int width)
{
    QStringList out;
    for (const QString& l : lines)
        out << fm.elidedText(l, Qt::ElideRight, width);
    return out.join(QLatin1Char('\n'));
}

}  // namespace

c_session_overlay::c_session_overlay(QWidget* area) : QObject(area), m_area(area)
{
    m_box = new QFrame(area);
    m_box->setObjectName(QStringLiteral("connectionBox"));
    m_box->setStyleSheet(QStringLiteral("QFrame#connectionBox { background-color: rgba(0, 0, 0, 180); "
                                        "border-radius: 6px; } QLabel { color: white; }"));
    auto* layout = new QVBoxLayout(m_box);
    layout->setContentsMargins(BOX_PADDING, BOX_PADDING, BOX_PADDING, BOX_PADDING);
    m_boxLabel = new QLabel(m_box);
    m_boxLabel->setObjectName(QStringLiteral("connectionOverlay"));
    m_boxLabel->setTextFormat(Qt::PlainText);
    m_boxLabel->setAlignment(Qt::AlignCenter);
    m_boxLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(m_boxLabel);
    m_retry = new QPushButton(tr("Try again"), m_box);
    m_retry->setObjectName(QStringLiteral("connectionRetry"));
    layout->addWidget(m_retry, 0, Qt::AlignHCenter);
    connect(m_retry, &QPushButton::clicked, this, &c_session_overlay::retry_requested);
    m_box->hide();

    m_noticeLabel = new QLabel(area);
    m_noticeLabel->setObjectName(QStringLiteral("noticeLine"));
    m_noticeLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_noticeLabel->setTextFormat(Qt::PlainText);
    m_noticeLabel->setWordWrap(true);
    m_noticeLabel->setStyleSheet(QStringLiteral("QLabel { background-color: rgba(0, 0, 0, 170); color: #f0f0f0; "
                                                "padding: 6px; font-family: monospace; font-size: 9pt; "
                                                "border-radius: 4px; }"));
    m_noticeLabel->hide();

    area->installEventFilter(this);
}

bool c_session_overlay::box_shown() const
{
    return m_box->isVisible();
}

void c_session_overlay::set_box(const QString& text, bool offer_retry)
{
    if (text == m_boxText && offer_retry == m_offerRetry)
        return;
    m_boxText = text;
    m_offerRetry = offer_retry;
    layout_box();
}

void c_session_overlay::set_notices(const QStringList& lines)
{
    if (lines == m_notices)
        return;
    m_notices = lines;
    layout_notices();
}

bool c_session_overlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_area && event->type() == QEvent::Resize) {
        layout_box();
        layout_notices();
    }
    return QObject::eventFilter(watched, event);
}

void c_session_overlay::layout_box()
{
    if (m_boxText.isEmpty()) {
        m_box->hide();
        return;
    }
    m_retry->setVisible(m_offerRetry);
    const QSize area = m_area->size();
    const int width = std::max(60, std::min(area.width() - 2 * MARGIN, BOX_MAX_WIDTH));
    const int text_width = std::max(20, width - 2 * BOX_PADDING);
    const int room = std::max(20, area.height() - 2 * MARGIN);
    const int button = m_offerRetry ? m_retry->sizeHint().height() + 6 : 0;
    // Wrapped at the largest size that fits; when even the smallest does
    // not, one line per line of text, elided.
    QFont font = m_boxLabel->font();
    int text_height = 0;
    bool wrapped = false;
    for (int pt : BOX_POINT_SIZES) {
        font.setPointSize(pt);
        const QFontMetrics fm(font);
        text_height = fm.boundingRect(QRect(0, 0, text_width, 100000), Qt::AlignCenter | Qt::TextWordWrap, m_boxText)
                          .height();
        if (text_height + 2 * BOX_PADDING + button <= room) {
            wrapped = true;
            break;
        }
    }
    m_boxLabel->setFont(font);
    const QFontMetrics fm(font);
    m_boxLabel->setWordWrap(wrapped);
    if (wrapped) {
        m_boxLabel->setText(m_boxText);
    } else {
        const QStringList lines = m_boxText.split(QLatin1Char('\n'));
        m_boxLabel->setText(elide_lines(lines, fm, text_width));
        text_height = fm.lineSpacing() * int(lines.size());
    }
    m_boxLabel->setToolTip(m_boxText);
    const int height = std::min(room, text_height + 2 * BOX_PADDING + button);
    m_box->setFixedSize(width, height);
    m_box->move((area.width() - width) / 2, std::max(0, (area.height() - height) / 2));
    m_box->show();
    m_box->raise();
}

void c_session_overlay::layout_notices()
{
    if (m_notices.isEmpty()) {
        m_noticeLabel->hide();
        return;
    }
    m_noticeLabel->setText(m_notices.join(QLatin1Char('\n')));
    m_noticeLabel->setMaximumWidth(std::max(100, m_area->width() - 2 * MARGIN));
    m_noticeLabel->adjustSize();
    // Anchored to the bottom left of the picture area, also after a resize.
    m_noticeLabel->move(MARGIN, std::max(0, m_area->height() - m_noticeLabel->height() - MARGIN));
    m_noticeLabel->show();
    m_noticeLabel->raise();
}
