// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recording badge over the picture: a red dot, the time since the
// recording started and the bytes written, in the picture's top right corner
// while a recording runs. It follows its parent's size by itself.
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <cstdint>
#include <functional>

class c_recording_badge : public QLabel
{
    Q_OBJECT
public:
    // bytes answers how much has been written so far; asked once a second.
    c_recording_badge(QWidget* picture, std::function<uint64_t()> bytes);

    void start();
    void stop();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void place();

    std::function<uint64_t()> m_bytes;
    QElapsedTimer m_clock;
    QTimer m_tick;
};
