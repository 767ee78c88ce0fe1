// Pasting text as keystrokes: the local clipboard's text typed on the remote
// computer, each character as the key and modifiers of the remote layout,
// a press report then a release report. The reports go through the KM send
// list a few at a time, so the channel's answer wait paces them and a long
// text can be followed and cancelled.
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

#include "h264video.h"
#include "log/log.h"
#include "tools/key_mouse/c_xkb_typist.h"
#include "tools/key_mouse/km_messages.h"

namespace {

// Above this many characters the user confirms first and sees the progress.
const int LONG_TEXT_CHARS = 200;
// Reports queued ahead of the channel: enough to keep it busy between ticks,
// few enough that a cancel stops the typing at once.
const size_t REPORTS_AHEAD = 64;
const int TICK_MS = 4;

}  // namespace

struct H264Video::paste_job
{
    std::vector<c_xkb_typist::report> reports;
    size_t next = 0;
    int skipped = 0;
    int chars = 0;
    QTimer timer;
    QPointer<QProgressDialog> progress;
    QElapsedTimer clock;
};

void H264Video::onPasteText()
{
    if (m_paste)
        return;  // one text at a time
    if (m_writePrivilege.load() != 1) {
        LOG_INFO("paste text: no write privilege");
        return;
    }
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return;

    const c_xkb_typist typist(m_remoteLayout.toStdString());
    if (!typist.valid()) {
        QMessageBox::warning(this, tr("Paste Text"),
                             tr("The remote layout \"%1\" is not known to XKB; choose another in the key menu.")
                                 .arg(m_remoteLayout));
        return;
    }
    const std::u32string chars = text.toStdU32String();
    if (chars.size() > size_t(LONG_TEXT_CHARS)) {
        const auto answer = QMessageBox::question(
            this, tr("Paste Text"), tr("Type %1 characters on the remote computer?").arg(chars.size()),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes || m_writePrivilege.load() != 1)
            return;
    }

    auto job = std::make_shared<paste_job>();
    job->reports = typist.reports(chars, job->skipped);
    job->chars = int(chars.size());
    LOG_INFO("paste text: %d characters, %zu reports, %d skipped, layout %s", job->chars, job->reports.size(),
             job->skipped, m_remoteLayout.toUtf8().constData());
    m_paste = job;

    if (job->chars > LONG_TEXT_CHARS) {
        job->progress = new QProgressDialog(tr("Typing the text on the remote computer (Esc cancels)..."),
                                            tr("Cancel"), 0, int(job->reports.size()), this);
        job->progress->setWindowTitle(tr("Paste Text"));
        job->progress->setWindowModality(Qt::WindowModal);
        job->progress->setMinimumDuration(0);
        job->progress->setAttribute(Qt::WA_DeleteOnClose);
        connect(job->progress, &QProgressDialog::canceled, this, [this] { finishPaste(true); });
        job->progress->show();
        // The dialog takes the keys (Esc) while the text is typed.
        updateKeyboardGrab();
    }
    connect(&job->timer, &QTimer::timeout, this, &H264Video::pasteTick);
    job->clock.start();
    job->timer.start(TICK_MS);
    pasteTick();
}

void H264Video::pasteTick()
{
    const std::shared_ptr<paste_job> job = m_paste;
    if (!job)
        return;
    if (m_writePrivilege.load() != 1) {
        LOG_WARN("paste text: write privilege lost after %zu of %zu reports", job->next, job->reports.size());
        finishPaste(true);
        return;
    }
    size_t queued = kmQueueLength();
    while (queued < REPORTS_AHEAD && job->next < job->reports.size()) {
        sendKmMessage(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, job->reports[job->next].data());
        ++job->next;
        ++queued;
    }
    if (job->progress)
        job->progress->setValue(int(job->next));
    // Done once the last report has left the list too.
    if (job->next == job->reports.size() && kmQueueLength() == 0)
        finishPaste(false);
}

void H264Video::finishPaste(bool cancelled)
{
    const std::shared_ptr<paste_job> job = m_paste;
    if (!job)
        return;
    m_paste.reset();
    job->timer.stop();
    // Never leave a key pressed: a press is always followed by its release.
    if (job->next % 2 == 1 && job->next < job->reports.size())
        sendKmMessage(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, job->reports[job->next].data());
    const qint64 ms = job->clock.elapsed();
    LOG_INFO("paste text %s: %zu of %zu reports in %lld ms, %d skipped", cancelled ? "cancelled" : "done", job->next,
             job->reports.size(), static_cast<long long>(ms), job->skipped);
    if (job->progress) {
        job->progress->disconnect(this);
        job->progress->close();
    }
    updateKeyboardGrab();
    if (!cancelled && job->skipped > 0) {
        // Not modal: the session goes on while it is shown.
        const QString count =
            job->skipped == 1 ? tr("1 character skipped") : tr("%1 characters skipped").arg(job->skipped);
        QMessageBox* box = new QMessageBox(
            QMessageBox::Information, tr("Paste Text: %1").arg(count),
            tr("%1: the remote layout \"%2\" has no key for them.").arg(count, m_remoteLayout), QMessageBox::Ok,
            this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    }
}

void H264Video::onRemoteLayout()
{
    bool ok = false;
    const QString text = QInputDialog::getText(this, tr("Remote Layout"),
                                               tr("Keyboard layout of the remote computer, as XKB names it\n"
                                                  "(us, de, fr, gb, de(nodeadkeys), ...), used for pasted text:"),
                                               QLineEdit::Normal, m_remoteLayout, &ok)
                             .trimmed();
    if (!ok || text.isEmpty() || text == m_remoteLayout)
        return;
    if (!c_xkb_typist(text.toStdString()).valid()) {
        QMessageBox::warning(this, tr("Remote Layout"), tr("\"%1\" is not a layout XKB knows.").arg(text));
        return;
    }
    m_remoteLayout = text;
    saveInputSettings();
}
