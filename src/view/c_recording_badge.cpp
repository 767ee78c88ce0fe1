// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/c_recording_badge.h"

#include <QEvent>
#include <QLocale>

c_recording_badge::c_recording_badge(QWidget* picture, std::function<uint64_t()> bytes)
    : QLabel(picture), m_bytes(std::move(bytes))
{
    setObjectName(QStringLiteral("recordingBadge"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setStyleSheet(QStringLiteral("QLabel { background: rgba(0, 0, 0, 160); color: white; padding: 3px 8px;"
                                 " border-radius: 4px; font-weight: bold; }"));
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &c_recording_badge::refresh);
    picture->installEventFilter(this);
    hide();
}

void c_recording_badge::start()
{
    m_clock.start();
    m_tick.start();
    refresh();
    show();
    raise();
}

void c_recording_badge::stop()
{
    m_tick.stop();
    hide();
}

bool c_recording_badge::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize && isVisible())
        place();
    return QLabel::eventFilter(watched, event);
}

void c_recording_badge::refresh()
{
    const qint64 s = m_clock.elapsed() / 1000;
    const QString time = s >= 3600 ? QStringLiteral("%1:%2:%3")
                                         .arg(s / 3600)
                                         .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                                         .arg(s % 60, 2, 10, QLatin1Char('0'))
                                   : QStringLiteral("%1:%2").arg(s / 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    const QString size = QLocale::system().formattedDataSize(qint64(m_bytes ? m_bytes() : 0), 1,
                                                             QLocale::DataSizeTraditionalFormat);
    setText(QStringLiteral("<span style=\"color:#ff3030\">\u25CF</span> REC %1 \u00B7 %2").arg(time, size));
    place();
}

void c_recording_badge::place()
{
    adjustSize();
    const QWidget* picture = parentWidget();
    if (picture)
        move(picture->width() - width() - 8, 8);
}
