// The video view: rendering with the aspect-ratio fit, the no-signal picture,
// full screen, optimum size, the window size file, the cursor over the video,
// and the mapping of local mouse positions to the remote screen.
#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLayout>
#include <QPainter>
#include <QPixmap>
#include <QRegion>
#include <QTimer>
#include <QScreen>
#include <QVBoxLayout>

#include <chrono>

#include "h264video.h"
#include "platform/desktop_input.h"

#include "app/window_size_file.h"
#include "log/log.h"
#include "session_params.h"
#include "tools/decoder/c_video_pipeline.h"
#include "tools/key_mouse/c_mouse_translator.h"
#include "tools/key_mouse/c_view_mapper.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/tick_count.h"
#include "view/c_picture_view.h"

uint8_t H264Video::m_alignOnNextMove = 1;

namespace {

const int DEFAULT_VIDEO_WIDTH = 1024;
const int DEFAULT_VIDEO_HEIGHT = 768;
const int ALIGN_REPORTS = 20;

// The smallest picture area a stored or optimum size leaves beside the tool bar.
const int MIN_PICTURE_WIDTH = 160;
const int MIN_PICTURE_HEIGHT = 120;

bool relativeMode()
{
    return g_para.mouseMode == 0;
}

}  // namespace

QSize H264Video::displayArea() const
{
    return c_view_mapper::display_area(geometry().size(), ui.toolBar->size());
}

c_picture_view* H264Video::pictureView()
{
    if (!m_pictureView) {
        // The label stays the container the rest of the window knows (its
        // events are filtered for input); the view fills it and paints.
        m_pictureView = new c_picture_view(ui.label);
        m_pictureView->setObjectName(QStringLiteral("pictureView"));
        m_pictureView->set_background(ui.label->palette().color(ui.label->backgroundRole()));
        auto* fill = new QVBoxLayout(ui.label);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->setSpacing(0);
        fill->addWidget(m_pictureView);
        connect(m_pictureView, &c_picture_view::picture_moved, this, &H264Video::updateViewMapping);
        connect(ui.actionActualSize, &QAction::toggled, this, &H264Video::on_actual_size);
    }
    return m_pictureView;
}

void H264Video::layoutLabel()
{
    ui.label->resize(displayArea());
    ui.label->move(0, 0);
    pictureView();
}

void H264Video::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    layoutLabel();
    m_alignOnNextMove = 1;
    convertShownAgain();
}

void H264Video::convertShownAgain()
{
    // A device sends nothing while its screen stands still: the picture shown
    // is converted again for the new size or mode rather than left scaled.
    const std::shared_ptr<c_video_pipeline> pipeline = currentPipeline();
    if (!pipeline || m_noSignalShown || !m_pictureView)
        return;
    if (ui.label->layout())
        ui.label->layout()->activate();
    c_picture_view* view = m_pictureView;
    QSize source;
    view->release_picture();
    const QImage image =
        pipeline->convert_again([view](const QSize& s) { return view->target_size(s); }, &source);
    if (!image.isNull())
        view->show_picture(image, source);
    updateViewMapping();
}

void H264Video::showOptResToolTip()
{
    ui.actionOptRes->setToolTip(
        QString::asprintf("optimum resolution:%d,%d", m_frameSize.width(), m_frameSize.height()));
}

void H264Video::on_slot_decode_one_frame(QImage image)
{
    QSize source;
    const std::shared_ptr<c_video_pipeline> pipeline = image.isNull() ? currentPipeline() : nullptr;
    if (pipeline) {
        if (!m_pictureClock.isValid())
            m_pictureClock.start();
        const double wait = m_drawPacer.wait_ms(pictureClockMs());
        if (wait > 0.0) {
            // Too soon after the last ones: the newest picture is drawn when
            // the pacer allows, through the same signal.
            if (!m_pictureDeferred) {
                m_pictureDeferred = true;
                QTimer::singleShot(int(std::ceil(wait)), Qt::PreciseTimer, this, [this] {
                    m_pictureDeferred = false;
                    emit signal_decode_one_frame(QImage());
                });
            }
            return;
        }
        if (!pipeline->has_picture())
            return;
        // Paced from when the picture was taken, not from when its conversion
        // ended, so that converting does not shorten the spacing.
        const double takenMs = pictureClockMs();
        // The picture shown is let go first, so the new one is converted into
        // the same memory (the screen keeps showing it until repainted).
        c_picture_view* view = pictureView();
        view->release_picture();
        image = pipeline->take_picture([view](const QSize& s) { return view->target_size(s); }, &source);
        if (!image.isNull()) {
            m_drawPacer.drawn(takenMs);
            // Lets the next picture be converted while it is decoded when
            // it can be drawn as soon as it is.
            const double nowMs = pictureClockMs();
            pipeline->set_draw_ready_at(std::chrono::steady_clock::now() +
                                        std::chrono::microseconds(int64_t(m_drawPacer.wait_ms(nowMs) * 1000.0)));
            noteShownPicture();
            m_noSignalShown = false;
        }
    }
    renderPicture(image, source);
}

void H264Video::renderPicture(const QImage& picture, QSize source)
{
    // A null picture (the no-signal resource missing) has nothing to show.
    if (picture.isNull())
        return;
    m_lastRenderTick = get_tick_count();
    if (source.isEmpty())
        source = picture.size();
    m_frameSize = source;

    const QSize area = displayArea();
    const bool changed = area != m_areaSize;
    m_areaSize = area;
    if (changed)
        ui.label->resize(area);

    c_picture_view* view = pictureView();
    // The no-signal picture comes again every second while nothing arrives:
    // drawn once, not each time.
    const bool still = source == picture.size() && picture.cacheKey() == m_noSignalImage.cacheKey();
    if (still && m_stillShown && !changed)
        return;
    m_stillShown = still;
    if (changed && ui.label->layout())
        ui.label->layout()->activate();
    view->show_picture(picture, source);
    updateViewMapping();

    if (changed)
        showOptResToolTip();

    if (relativeMode() && m_alignOnNextFrame) {
        on_slot_mouse_align();
        m_alignOnNextFrame = 0;
    }
}

void H264Video::updateViewMapping()
{
    if (!m_pictureView)
        return;
    const QRect r = m_pictureView->picture_rect();
    const QSize source = m_pictureView->source_size();
    if (r.isEmpty() || source.isEmpty())
        return;
    m_scaledSize = r.size();
    m_videoOrigin = m_pictureView->viewport()->mapTo(ui.label, r.topLeft());
    m_scaleX = float(source.width()) / float(r.width());
    m_scaleY = float(source.height()) / float(r.height());
}

void H264Video::on_actual_size(bool on)
{
    pictureView()->set_actual_size(on);
    convertShownAgain();
    m_alignOnNextFrame = 1;
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
    c_view_mapper::parse_client_size(window_size_file::first_line(clientSizePath()), width, height);
    resize(clampedWindowSize(QSize(width, height)));
    layoutLabel();
    m_alignOnNextFrame = 1;
    m_isFullScreen = 0;
}

void H264Video::writeClientSize()
{
    // In full screen the size to come back to is the one before it: the
    // screen's size would open the next start partly off the screen.
    const QSize size = (windowState() & Qt::WindowFullScreen) ? normalGeometry().size() : geometry().size();
    window_size_file::write(clientSizePath(), size);
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
    LOG_DEBUG("local pos:%d,%d,remote pos:%d,%d", p.x(), p.y(), int(X), int(Y));
    const auto payload = km_mouse_abs_payload(m_absButtons, X, Y, wheel);
    sendKmMessage(CMD_KM_MOUSE_ABS, KM_MOUSE_ABS_LEN, payload.data());
}

void H264Video::sendRelativeMouse(const QPoint& p)
{
    LOG_DEBUG("mouseEvt pos:%d,%d", p.x(), p.y());
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
    // A locked pointer needs no warp: the remote one follows motion, not places.
    if (!(m_desktop && m_desktop->pointer_locked()))
        QCursor::setPos(ui.label->mapToGlobal(QPoint(0, 0)));
    m_lastLocalPos = QPoint(0, 0);
}
