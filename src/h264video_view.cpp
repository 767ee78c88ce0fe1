// The video view: rendering with the aspect-ratio fit, the no-signal picture,
// full screen, optimum size, the window size file, the cursor over the video,
// and the mapping of local mouse positions to the remote screen.
#include <algorithm>

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QPainter>
#include <QPixmap>
#include <QRegion>
#include <QTimer>
#include <QScreen>
#include <QTextStream>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "h264video.h"
#include "log/log.h"
#include "session_params.h"
#include "tools/decoder/c_video_pipeline.h"
#include "tools/key_mouse/c_mouse_translator.h"
#include "tools/key_mouse/c_view_mapper.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/tick_count.h"

uint8_t H264Video::m_alignOnNextMove = 1;

namespace {

const int DEFAULT_VIDEO_WIDTH = 1024;
const int DEFAULT_VIDEO_HEIGHT = 768;
const int ALIGN_REPORTS = 20;

// The window size file holds one short line; a longer file (or a device or
// FIFO put in its place) is no size file and is not read any further.
const qint64 CLIENT_SIZE_MAX_BYTES = 64;
// The smallest picture area a stored or optimum size leaves beside the tool bar.
const int MIN_PICTURE_WIDTH = 160;
const int MIN_PICTURE_HEIGHT = 120;

// The first line of the window size file, read without blocking and without
// reading more than CLIENT_SIZE_MAX_BYTES; empty when it is no such file.
QString readClientSizeLine(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QString();
    QByteArray bytes;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        bytes.resize(CLIENT_SIZE_MAX_BYTES + 1);
        ssize_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        bytes.truncate(int(got));
    }
    ::close(fd);
    const qsizetype end = bytes.indexOf('\n');
    if (end < 0 && bytes.size() > CLIENT_SIZE_MAX_BYTES)
        return QString();
    return QString::fromLatin1(end < 0 ? bytes : bytes.left(end)).remove(QLatin1Char('\r'));
}

bool relativeMode()
{
    return g_para.mouseMode == 0;
}

}  // namespace

QSize H264Video::displayArea() const
{
    return c_view_mapper::display_area(geometry().size(), ui.toolBar->size());
}

void H264Video::layoutLabel()
{
    ui.label->resize(displayArea());
    ui.label->move(0, 0);
}

void H264Video::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    layoutLabel();
    m_alignOnNextMove = 1;
}

void H264Video::showOptResToolTip()
{
    ui.actionOptRes->setToolTip(
        QString::asprintf("optimum resolution:%d,%d", m_frameSize.width(), m_frameSize.height()));
}

void H264Video::on_slot_decode_one_frame(QImage image)
{
    const std::shared_ptr<c_video_pipeline> pipeline = image.isNull() ? currentPipeline() : nullptr;
    if (pipeline) {
        if (!m_pictureClock.isValid())
            m_pictureClock.start();
        const qint64 since = m_pictureClock.elapsed() - m_lastPictureMs;
        if (m_lastPictureMs > 0 && since < k_minPictureGapMs) {
            // Too soon after the last one: the newest picture is drawn when
            // the gap is over, through the same signal.
            if (!m_pictureDeferred) {
                m_pictureDeferred = true;
                QTimer::singleShot(int(k_minPictureGapMs - since), Qt::PreciseTimer, this, [this] {
                    m_pictureDeferred = false;
                    emit signal_decode_one_frame(QImage());
                });
            }
            return;
        }
        image = pipeline->take_picture();
        if (!image.isNull()) {
            noteShownPicture();
            m_lastPictureMs = std::max<qint64>(1, m_pictureClock.elapsed());
            m_noSignalShown = false;
        }
    }
    renderPicture(image);
}

void H264Video::renderPicture(const QImage& picture)
{
    // A null picture (the no-signal resource missing) has nothing to show.
    if (picture.isNull())
        return;
    m_lastRenderTick = get_tick_count();
    m_frameSize = picture.size();

    const QSize area = displayArea();
    const bool changed = area != m_areaSize;
    m_areaSize = area;

    if (area.width() > 0 && area.height() > 0) {
        const c_view_mapper::fit_result fit = c_view_mapper::fit(picture.size(), area);
        m_scaledSize = fit.scaledSize;
        m_videoOrigin = fit.origin;
        m_scaleX = fit.scaleX;
        m_scaleY = fit.scaleY;

        // The canvas the label does not show; its memory is reused while the
        // area stays the same (a large picture's fresh allocation costs more
        // in page faults than drawing it).
        QImage* canvas = nullptr;
        for (QImage& c : m_canvas) {
            if (!c.isNull() && c.isDetached() && c.size() == area) {
                canvas = &c;
                break;
            }
        }
        if (!canvas) {
            canvas = m_canvas[0].isNull() || m_canvas[0].isDetached() ? &m_canvas[0] : &m_canvas[1];
            *canvas = QImage(area, QImage::Format_RGB32);
        }

        // Scaled while it is drawn, nearest pixel as the fast transformation
        // does (the same pixels as scaling first). Only the bars beside it
        // need the background, unless the picture has transparent parts.
        const QRect target(m_videoOrigin, m_scaledSize);
        QPainter painter(canvas);
        if (picture.hasAlphaChannel())
            painter.fillRect(canvas->rect(), m_backgroundColor);
        else
            for (const QRect& bar : QRegion(canvas->rect()).subtracted(target))
                painter.fillRect(bar, m_backgroundColor);
        painter.drawImage(target, picture);
        painter.end();
        ui.label->setPixmap(QPixmap::fromImage(*canvas));
    }

    if (changed) {
        ui.label->resize(area);
        showOptResToolTip();
    }

    if (relativeMode() && m_alignOnNextFrame) {
        on_slot_mouse_align();
        m_alignOnNextFrame = 0;
    }
}

void H264Video::on_full_screen()
{
    m_isFullScreen = m_isFullScreen ? 0 : 1;
    m_alignOnNextFrame = 1;
    if (m_isFullScreen)
        setWindowState(Qt::WindowFullScreen);
    else
        setWindowState(Qt::WindowNoState);
}

QSize H264Video::clampedWindowSize(const QSize& wanted) const
{
    // Never larger than the screen the window is on (every render draws a
    // canvas of the window's size), never smaller than the tool bar with a
    // little picture beside it.
    const QSize least(ui.toolBar->width() + MIN_PICTURE_WIDTH,
                      std::max(ui.toolBar->sizeHint().height(), MIN_PICTURE_HEIGHT));
    QSize size = wanted;
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (s)
        size = size.boundedTo(s->availableGeometry().size());
    return size.expandedTo(least);
}

void H264Video::on_slot_optRes()
{
    resize(clampedWindowSize(QSize(m_frameSize.width() + ui.toolBar->width(), m_frameSize.height())));
    layoutLabel();
    m_alignOnNextMove = 1;
    m_alignOnNextFrame = 1;

    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect desktop = screen->virtualGeometry();
    move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
}

// ----------------------------------------------------------- window size file

QString H264Video::clientSizePath() const
{
    return kvm_paths::settings_file(QStringLiteral("clientSize.config"));
}

void H264Video::readClientSize()
{
    // The tool bar's real width is known only once the window's layout has run.
    ensurePolished();
    if (layout())
        layout()->activate();

    int width = ui.toolBar->width() + DEFAULT_VIDEO_WIDTH;
    int height = DEFAULT_VIDEO_HEIGHT;
    c_view_mapper::parse_client_size(readClientSizeLine(clientSizePath()), width, height);
    resize(clampedWindowSize(QSize(width, height)));
    layoutLabel();
    m_alignOnNextFrame = 1;
    m_isFullScreen = 0;
}

void H264Video::writeClientSize()
{
    // Something other than a file in its place (a FIFO would hold the close
    // in open()) is left alone.
    const QFileInfo info(clientSizePath());
    if (info.exists() && !info.isFile())
        return;
    QFile file(clientSizePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate))
        return;
    const QRect g = geometry();
    file.write(QString::asprintf("%d,%d\n", g.width(), g.height()).toLatin1());
}

// ------------------------------------------------------------- the cursor

void H264Video::enterVideo()
{
    if (m_cursorPushed)
        QApplication::restoreOverrideCursor();
    if (m_cursorShown == 1) {
        const QPixmap cross(QStringLiteral(":/image/Resources/cross.png"));
        QApplication::setOverrideCursor(QCursor(cross, cross.width() / 2, cross.height() / 2));
    } else {
        QApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    }
    m_cursorPushed = true;
    showOptResToolTip();
}

void H264Video::leaveVideo()
{
    if (!relativeMode()) {
        m_absButtons = KM_ABS_NONE;
        sendAbsoluteMouse(0, true);
    }
    if (m_cursorPushed) {
        QApplication::restoreOverrideCursor();
        m_cursorPushed = false;
    }
}

void H264Video::on_slot_mouseShow()
{
    m_cursorShown = m_cursorShown ? 0 : 1;
    QAction* action = ui.toolBar->actions().value(Ui_H264VideoClass::POS_MOUSE_HIDE);
    if (!action)
        return;
    if (m_cursorShown == 1) {
        action->setIcon(QIcon(QStringLiteral(":/image/Resources/mouseHide.png")));
        action->setToolTip(tr("Mouse Hide"));
    } else {
        action->setIcon(QIcon(QStringLiteral(":/image/Resources/mouseShow.png")));
        action->setToolTip(tr("Mouse Show"));
    }
}

// ------------------------------------------------------------ mouse mapping

void H264Video::sendAbsoluteMouse(int8_t wheel, bool clampToEdge)
{
    QPoint p = ui.label->mapFromGlobal(QCursor::pos()) - m_videoOrigin;
    if (clampToEdge)
        p = c_view_mapper::clamp_to_picture(p, m_scaledSize);
    const QSize decoded = decodedSize();
    int16_t X = 0, Y = 0;
    if (!c_view_mapper::map_absolute(p, m_scaledSize, m_scaleX, m_scaleY, decoded.width(), decoded.height(), X, Y))
        return;
    LOG_INFO("local pos:%d,%d,remote pos:%d,%d", p.x(), p.y(), int(X), int(Y));
    const auto payload = km_mouse_abs_payload(m_absButtons, X, Y, wheel);
    sendKmMessage(CMD_KM_MOUSE_ABS, KM_MOUSE_ABS_LEN, payload.data());
}

void H264Video::sendRelativeMouse(const QPoint& p)
{
    LOG_INFO("mouseEvt pos:%d,%d", p.x(), p.y());
    const std::vector<c_view_mapper::step> steps =
        c_view_mapper::map_relative(p, m_lastLocalPos, m_scaleX, m_scaleY, m_fracX, m_fracY);
    if (!m_mouseTranslator)
        return;
    for (const c_view_mapper::step& s : steps) {
        unsigned char report[c_mouse_translator::REPORT_SIZE];
        int length = 0;
        m_mouseTranslator->build(0, c_mouse_translator::KIND_MOVE, s.first, s.second, 0, report, length);
        sendKmMessage(CMD_KM_MOUSE_REL, length, report);
    }
}

void H264Video::on_slot_mouse_align()
{
    if (m_mouseTranslator) {
        unsigned char report[c_mouse_translator::REPORT_SIZE];
        int length = 0;
        m_mouseTranslator->build(0, c_mouse_translator::KIND_MOVE, -c_view_mapper::REL_STEP_MAX,
                                 -c_view_mapper::REL_STEP_MAX, 0, report, length);
        report[0] = 0;  // alignment moves the pointer, it never drags
        for (int i = 0; i < ALIGN_REPORTS; ++i)
            sendKmMessage(CMD_KM_MOUSE_REL, length, report);
    }
    QCursor::setPos(ui.label->mapToGlobal(QPoint(0, 0)));
    m_lastLocalPos = QPoint(0, 0);
}
