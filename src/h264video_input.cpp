// Input capture: the event filter installed on the window and on the video label.
#include <QEvent>

#include "h264video.h"

bool H264Video::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this) {
        if (event->type() == QEvent::Close)
            writeClientSize();
        return QMainWindow::eventFilter(watched, event);
    }
    return QMainWindow::eventFilter(watched, event);
}
