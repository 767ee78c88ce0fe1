// Screenshot and recording: the remote picture saved as PNG at its own size,
// and the H.264 stream written as it arrives into Matroska files. Notices
// about both go to showNotice().
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QBuffer>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolBar>

#include "h264video.h"
#include "log/log.h"
#include "tools/files/safe_file.h"
#include "tools/decoder/c_video_pipeline.h"
#include "tools/record/c_stream_recorder.h"

namespace {

// A directory of the user's (created when missing), or an empty string.
QString userDirectory(QStandardPaths::StandardLocation where)
{
    const QString dir = QStandardPaths::writableLocation(where);
    if (dir.isEmpty() || !QDir().mkpath(dir))
        return QString();
    return dir;
}

// dir/prefix-YYYYMMDD-HHMMSS, with -2, -3 ... when a file of that name and
// extension exists already (two in the same second).
// <dir>/<prefix>-YYYYMMDD-hhmmss: the files made from it take the first free
// name of its series (-2, -3, …) when it is created.
QString stampedStem(const QString& dir, const QString& prefix)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QDir(dir).filePath(prefix + QLatin1Char('-') + stamp);
}

}  // namespace

void H264Video::setupRecording()
{
    m_recorder = std::make_shared<c_stream_recorder>();
    // Writer thread: the notices go to the GUI thread.
    m_recorder->set_notice([this](const c_stream_recorder::notice& n) {
        const QString text = QString::fromStdString(n.text);
        const bool failed = n.kind == c_stream_recorder::notice::failed;
        QMetaObject::invokeMethod(
            this,
            [this, text, failed] {
                if (failed)
                    stopRecording(tr("Recording failed: %1.").arg(text));
                else
                    showNotice(tr("Recording to %1").arg(text));
            },
            Qt::QueuedConnection);
    });
    // After the key menu button, so the positions before it stay.
    ui.toolBar->addAction(ui.actionRecord);
    connect(ui.actionRecord, &QAction::toggled, this, &H264Video::onRecordToggled);
}

void H264Video::attachRecording(const std::shared_ptr<c_video_pipeline>& pipeline)
{
    // Called for every new pipeline (each connection of the video channel),
    // before its receive thread runs; the recorder lives as long as the window.
    if (!m_recorder || !pipeline)
        return;
    std::shared_ptr<c_stream_recorder> recorder = m_recorder;
    pipeline->set_unit_tap([recorder](const uint8_t* unit, int length, std::chrono::steady_clock::time_point arrival) {
        recorder->push(unit, length, arrival);
    });
}

void H264Video::onRecordToggled(bool on)
{
    if (!on) {
        stopRecording(tr("Recording stopped."));
        return;
    }
    const QString dir = userDirectory(QStandardPaths::MoviesLocation);
    std::string error = "no videos directory";
    const QString base = dir.isEmpty() ? QString() : stampedStem(dir, QStringLiteral("recording"));
    if (dir.isEmpty() || !m_recorder->start(base.toStdString(), &error)) {
        const QSignalBlocker block(ui.actionRecord);
        ui.actionRecord->setChecked(false);
        showNotice(tr("Recording failed: %1 (%2)").arg(QString::fromStdString(error), base + QStringLiteral(".mkv")));
        return;
    }
    showNotice(tr("Recording to %1 (from the next key frame)").arg(base + QStringLiteral(".mkv")));
}

void H264Video::stopRecording(const QString& why)
{
    if (!m_recorder || !m_recorder->recording())
        return;
    if (why.isEmpty()) {
        // The window is going: no notice, and none from the writer thread.
        m_recorder->set_notice(nullptr);
        m_recorder->stop();
        return;
    }
    m_recorder->stop();
    {
        const QSignalBlocker block(ui.actionRecord);
        ui.actionRecord->setChecked(false);
    }
    const std::vector<std::string> files = m_recorder->files();
    if (files.empty())
        showNotice(why + QLatin1Char(' ') + tr("Nothing was recorded: no key frame arrived."));
    else if (files.size() == 1)
        showNotice(why + QLatin1Char(' ') + tr("Saved: %1").arg(QString::fromStdString(files.back())));
    else
        showNotice(why + QLatin1Char(' ') +
                   tr("Saved %1 files, the last %2").arg(files.size()).arg(QString::fromStdString(files.back())));
}

void H264Video::saveScreenshot()
{
    const std::shared_ptr<c_video_pipeline> pipeline = currentPipeline();
    const QImage picture = pipeline ? pipeline->snapshot() : QImage();
    if (picture.isNull()) {
        showNotice(tr("Screenshot failed: no picture yet."));
        return;
    }
    const QString dir = userDirectory(QStandardPaths::PicturesLocation);
    if (dir.isEmpty()) {
        showNotice(tr("Screenshot failed: no pictures directory."));
        return;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QString path = stampedStem(dir, QStringLiteral("screenshot")) + QStringLiteral(".png");
    QString error;
    // Appears whole under a name nobody else holds; never through a link.
    if (!picture.save(&buffer, "PNG") ||
        !safe_file::publish_new(path.chopped(4), QStringLiteral(".png"), png, &path, &error)) {
        LOG_ERROR("screenshot: cannot write %s: %s", path.toLocal8Bit().constData(), error.toLocal8Bit().constData());
        showNotice(tr("Screenshot failed: cannot write %1").arg(path));
        return;
    }
    LOG_INFO("screenshot: %s, %dx%d", path.toLocal8Bit().constData(), picture.width(), picture.height());
    showNotice(tr("Screenshot saved: %1").arg(path));
}
