// Pasting text as keystrokes: the local clipboard's text typed on the remote
// computer by c_text_typer, which makes the reports as the KM channel takes
// them and says how far it got. This file only asks and tells the user.
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>

#include "h264video.h"
#include "log/log.h"
#include "session/c_km_channel.h"
#include "session/c_text_typer.h"
#include "tools/key_mouse/c_xkb_typist.h"

namespace {

// Above this many characters the user confirms first and sees the progress.
const int LONG_TEXT_CHARS = 200;
// Characters named in the question about those the layout cannot type.
const int NAMES_SHOWN = 20;
// A report's round trip when the channel has measured none yet.
const double DEFAULT_REPORT_MS = 5.0;

}  // namespace

struct H264Video::paste_job
{
    QPointer<QProgressDialog> progress;
};

void H264Video::onPasteText()
{
    if (!m_typer || m_typer->busy())
        return;  // one text at a time
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    const QString refusal = m_typer->refusal();
    if (!refusal.isEmpty()) {
        LOG_INFO("paste text refused: %s", refusal.toUtf8().constData());
        QMessageBox::warning(this, tr("Paste Text: not typed"), tr("The text was not typed: %1.").arg(refusal));
        return;
    }
    const c_xkb_typist typist(m_remoteLayout.toStdString());
    if (!typist.valid()) {
        QMessageBox::warning(this, tr("Paste Text"),
                             tr("The remote layout \"%1\" is not known to XKB; choose another in the key menu.")
                                 .arg(m_remoteLayout));
        return;
    }
    // Before anything is typed: the characters that would leave holes.
    const QStringList missing = c_text_typer::untypable_names(typist, text);
    if (!missing.isEmpty()) {
        QStringList shown = missing.mid(0, NAMES_SHOWN);
        if (missing.size() > NAMES_SHOWN)
            shown << tr("and %1 more").arg(missing.size() - NAMES_SHOWN);
        QMessageBox box(QMessageBox::Question, tr("Paste Text: characters without a key"),
                        tr("The remote layout \"%1\" has no key for these characters:\n%2")
                            .arg(m_remoteLayout, shown.join(QStringLiteral(", "))),
                        QMessageBox::Cancel, this);
        QPushButton* skip = box.addButton(tr("&Skip them, type the rest"), QMessageBox::AcceptRole);
        box.setDefaultButton(QMessageBox::Cancel);
        box.exec();
        if (box.clickedButton() != skip)
            return;
    }
    const int chars = int(text.toStdU32String().size());
    if (chars > LONG_TEXT_CHARS) {
        // Two reports a character, each waiting for the device's answer.
        const int64_t rtt_us = kmChannel() ? kmChannel()->answer_rtt_median_us() : -1;
        const double report_ms = rtt_us > 0 ? double(rtt_us) / 1000.0 : DEFAULT_REPORT_MS;
        const int seconds = int(double(chars) * 2.0 * report_ms / 1000.0 + 0.5);
        const auto answer = QMessageBox::question(
            this, tr("Paste Text"),
            tr("Type %1 characters on the remote computer? It takes about %2 s.").arg(chars).arg(seconds),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }

    auto job = std::make_shared<paste_job>();
    m_paste = job;
    const QMetaObject::Connection done = connect(
        m_typer.get(), &c_text_typer::finished, this,
        [this, job](const c_text_typer::result& r) {
            m_paste.reset();
            if (job->progress) {
                job->progress->disconnect(this);
                job->progress->disconnect(m_typer.get());
                job->progress->close();
            }
            updateKeyboardGrab();
            if (r.complete && r.skipped == 0)
                return;
            // Not modal: the session goes on while it is shown.
            QMessageBox* box =
                new QMessageBox(QMessageBox::Information, tr("Paste Text: typed %1 of %2 characters").arg(r.typed).arg(r.total),
                                r.summary() + QLatin1Char('.'), QMessageBox::Ok, this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setModal(false);
            box->show();
        },
        Qt::SingleShotConnection);
    QString why;
    if (!m_typer->start(text, m_remoteLayout, &why)) {
        disconnect(done);
        m_paste.reset();
        QMessageBox::warning(this, tr("Paste Text: not typed"), tr("The text was not typed: %1.").arg(why));
        return;
    }
    // Ended already (the channel went at once): the result has been shown.
    if (!m_typer->busy() || chars <= LONG_TEXT_CHARS)
        return;
    job->progress = new QProgressDialog(tr("Typing the text on the remote computer (Esc cancels)..."), tr("Cancel"),
                                        0, m_typer->total(), this);
    job->progress->setWindowTitle(tr("Paste Text"));
    job->progress->setWindowModality(Qt::WindowModal);
    job->progress->setMinimumDuration(0);
    job->progress->setAttribute(Qt::WA_DeleteOnClose);
    connect(job->progress, &QProgressDialog::canceled, m_typer.get(), &c_text_typer::cancel);
    connect(m_typer.get(), &c_text_typer::progress, job->progress, &QProgressDialog::setValue);
    job->progress->show();
    // The dialog takes the keys (Esc) while the text is typed.
    updateKeyboardGrab();
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
