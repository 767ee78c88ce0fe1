// Process entry: decodes the launch string into g_para, prepares the
// application and runs the main window; or, when the launch string names a
// serial port, only starts the companion program.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTextCodec>

#include "crash/crash_handler.h"
#include "h264video.h"
#include "log/log.h"
#include "session_params.h"

#ifdef KVM_STARTUP_PROBE
// Test build only: the logger echoes to the console, the modal box is closed
// by a timer, and the prepared state is reported before the window exists.
#include <QTimer>
#include <cstdio>

#include "log/CLogerManager.h"

namespace {
void probe_start_logger()
{
    CLogerManager* m = CLogerManager::instance();
    m->set_logger_level(0, LOG_LEVEL_TRACE);
    m->set_logger_path(0, (QCoreApplication::applicationDirPath() + "/log/").toLocal8Bit().constData());
    m->start();
}

void probe_close_message_boxes()
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box && box->isVisible()) {
                std::fprintf(stderr, "probe: message box title=[%s] text=[%s] modal=%d\n",
                             box->windowTitle().toUtf8().constData(), box->text().toUtf8().constData(),
                             box->isModal() ? 1 : 0);
                std::fflush(stderr);
                box->done(QMessageBox::No);
            }
        }
    });
    timer->start(50);
}

void probe_report(const QString& title)
{
    QTextCodec* gbk = QTextCodec::codecForName("GBK");
    std::fprintf(stderr, "probe: title=[%s] cwd=[%s] stylesheet=%d gbk=[%s] locale=[%s]\n",
                 title.toUtf8().constData(), QDir::currentPath().toUtf8().constData(),
                 static_cast<int>(qApp->styleSheet().size()), gbk ? gbk->name().constData() : "",
                 QTextCodec::codecForLocale()->name().constData());
    std::fflush(stderr);
}
}  // namespace
#endif

namespace {

// Starts "<application directory>/comBySocket.exe" detached with the decoded
// launch string; on failure logs and tells the user. The exit code is 0 either way.
int run_companion(const char* text)
{
    const QString program = QCoreApplication::applicationDirPath() + "/comBySocket.exe";
    const QStringList args{QString::fromLocal8Bit(text)};
    if (!QProcess::startDetached(program, args)) {
        LOG_ERROR("start comBySocket.exe failed.%s Param:%s", program.toLocal8Bit().constData(),
                  args.join(QString()).toLocal8Bit().constData());
#ifdef KVM_STARTUP_PROBE
        probe_close_message_boxes();
#endif
        QMessageBox::critical(nullptr, "critical", QString::fromUtf8("启动串口工具失败。"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    }
    return 0;
}

// Qt 6 keeps no codec for translated texts or C strings (sources are UTF-8);
// the locale codec is the system's, and "GBK" must be available to the dialogs.
void set_text_codecs()
{
    QTextCodec::codecForName("GBK");
    QTextCodec::setCodecForLocale(QTextCodec::codecForLocale());
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication* app = new QApplication(argc, argv);
    install_crash_handler();
#ifdef KVM_STARTUP_PROBE
    probe_start_logger();
#endif

    char buf[LAUNCH_BUFFER_SIZE];
    launch_prepare(argc > 1 ? argv[1] : nullptr, buf);

    if (launch_is_companion(buf)) {
        int rc = run_companion(buf);
        delete app;
        return rc;
    }

    launch_parse(buf, g_para);
    LOG_INFO("qt start,para.userID=%u", g_para.userID);
    LOG_INFO("system key info path:%s/key.xml", QCoreApplication::applicationDirPath().toLocal8Bit().constData());

    set_text_codecs();
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    QFile* styleFile = new QFile(":/qss/H264Video");
    QString style;
    if (styleFile->open(QFile::ReadOnly)) {
        style = QString::fromUtf8(styleFile->readAll());
        styleFile->close();
    }
    app->setStyleSheet(style);

    QString* title = new QString(session_window_title(g_para));
#ifdef KVM_STARTUP_PROBE
    probe_report(*title);
#endif
    H264Video* window = new H264Video(nullptr, Qt::WindowFlags());
    window->setWindowTitle(*title);
    window->setMouseTracking(true);
    window->show();
    int rc = app->exec();

    delete title;
    delete window;
    delete styleFile;
    delete app;
    return rc;
}
