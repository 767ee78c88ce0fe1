#include "ui/c_connect_dlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A launch string is one line; a file that holds one is small.
const qint64 MAX_FILE_BYTES = 64 * 1024;

void wipe(QString& s)
{
    s.fill(QLatin1Char('\0'));
    s.clear();
}

}  // namespace

c_connect_dlg::c_connect_dlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Connect"));
    setObjectName(QStringLiteral("connectDialog"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Paste the launch string that the device's web page gives for this viewer\n"
                                "(it starts with {desEncode or %7BdesEncode), or open a file that holds it."),
                             this);
    layout->addWidget(intro);
    auto* row = new QHBoxLayout();
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("launchString"));
    m_text->setEchoMode(QLineEdit::Password);  // it holds the session keys
    m_text->setMinimumWidth(420);
    row->addWidget(m_text, 1);
    auto* file = new QPushButton(tr("Open File\u2026"), this);
    row->addWidget(file);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_connect = buttons->addButton(tr("Connect"), QDialogButtonBox::AcceptRole);
    m_connect->setDefault(true);
    m_connect->setEnabled(false);
    layout->addWidget(buttons);

    connect(m_text, &QLineEdit::textChanged, this,
            [this](const QString& t) { m_connect->setEnabled(!t.trimmed().isEmpty()); });
    connect(file, &QPushButton::clicked, this, &c_connect_dlg::open_file);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

c_connect_dlg::~c_connect_dlg()
{
    QString t = m_text->text();
    wipe(t);
    m_text->clear();
}

QByteArray c_connect_dlg::take_launch_string()
{
    QString t = m_text->text();
    const QByteArray out = t.trimmed().toLocal8Bit();
    wipe(t);
    m_text->clear();
    return out;
}

void c_connect_dlg::open_file()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Launch string file"), QDir::homePath());
    if (path.isEmpty())
        return;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes = f.read(MAX_FILE_BYTES);
    const int end = bytes.indexOf('\n');
    QString line = QString::fromLocal8Bit(end >= 0 ? bytes.left(end) : bytes).trimmed();
    bytes.fill('\0');
    m_text->setText(line);
    wipe(line);
}
