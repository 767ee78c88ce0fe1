// Process entry: reads the command line, decodes the launch string into
// g_para, prepares the application and runs the main window; or, when the
// launch string names a serial port, only starts the companion program.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QString>
#include <QTextCodec>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/display_check.h"
#include "app/paths.h"
#include "app/shutdown.h"
#include "app/translations.h"
#include "crash/crash_handler.h"
#include "h264video.h"
#include "log/CLogerManager.h"
#include "log/log.h"
#include "platform/platform_choice.h"
#include "session_params.h"
#include "ui/c_connect_dlg.h"

#ifdef KVM_STARTUP_PROBE
// Test build only: the logger echoes to the console, the modal box is closed
// by a timer, and the prepared state is reported before the window exists.
#include <QTimer>

namespace {

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

// Starts "<executable directory>/comBySocket.exe" detached with the decoded
// launch string, byte for byte; on failure logs and tells the user. The exit
// code is 0 either way.
int run_companion(const char* text)
{
    const QString program = kvm_paths::companion(QStringLiteral("comBySocket.exe"));
    QString why;
    if (!spawn_detached(QFile::encodeName(program), QByteArray(text), &why)) {
        LOG_ERROR("start comBySocket.exe failed.%s Param:%s", QFile::encodeName(program).constData(), text);
        LOG_ERROR("comBySocket.exe: %s", why.toLocal8Bit().constData());
#ifdef KVM_STARTUP_PROBE
        probe_close_message_boxes();
#endif
        QMessageBox::critical(nullptr, QCoreApplication::translate("main", "critical"),
                              QCoreApplication::translate("main", "启动串口工具失败。"),
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

// The logger writes into log/ of the state directory; level -1 leaves it off.
void start_logger(int level, bool echo)
{
    if (level < 0)
        return;
    CLogerManager* m = CLogerManager::instance();
    m->set_logger_level(0, level);
    m->set_logger_display(0, echo);
    m->set_logger_path(0, QFile::encodeName(kvm_paths::log_dir()).constData());
    m->start();
}

}  // namespace

int main(int argc, char* argv[])
{
    // First, so that even an abort inside Qt's start-up leaves a record.
    install_crash_handler();
    set_crash_record_build(version_text(argv[0]).c_str());

    const command_line cmd = parse_command_line(argc, argv);
    switch (cmd.action) {
    case command_line::HELP: {
        const std::string text = usage_text(argv[0], kvm_paths::settings_dir(), kvm_paths::state_dir());
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    case command_line::VERSION: {
        const std::string text = version_text(argv[0]);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    case command_line::USAGE_ERROR: {
        const std::string text = usage_text(argv[0], kvm_paths::settings_dir(), kvm_paths::state_dir());
        std::fprintf(stderr, "%s: %s\n%s", argv[0], cmd.error.c_str(), text.c_str());
        return 2;
    }
    case command_line::RUN:
        break;
    }

    kvm_paths::create_dirs();
    set_crash_record_path(QFile::encodeName(kvm_paths::crash_file()).constData());

    // The launch string holds the session keys: copied out, then wiped from
    // the argument so other local users cannot read it in the process list.
    char buf[LAUNCH_BUFFER_SIZE];
    if (cmd.launchFromStdin) {
        QByteArray line;
        std::string why;
        if (!read_launch_line(STDIN_FILENO, 64 * 1024, LAUNCH_STDIN_TIMEOUT_MS, &line, &why)) {
            std::fprintf(stderr, "%s: %s\n", argv[0], why.c_str());
            return 2;
        }
        launch_prepare(line.constData(), buf);
        line.fill('\0');
    } else {
        launch_prepare(cmd.launchIndex > 0 ? argv[cmd.launchIndex] : nullptr, buf);
        if (cmd.launchIndex > 0)
            hide_argument(argv[cmd.launchIndex]);
    }

    // Without a display Qt would abort (and leave a crash record): say so in one line.
    const std::string noDisplay = missing_display_text(argv[0]);
    if (!noDisplay.empty()) {
        std::fputs(noDisplay.c_str(), stderr);
        return 1;
    }

    // Qt sees only the program name (options are ours, the launch string is
    // gone) and the platform chosen for it, unless QT_QPA_PLATFORM says.
    const qt_platform_choice platform = choose_qt_platform();
    QByteArray platformName = platform.platform;
    int qtArgc = platformName.isEmpty() ? 1 : 3;
    char platformOption[] = "-platform";
    char* qtArgv[] = {argv[0], platformOption, platformName.data(), nullptr};
    begin_display_guard(argv[0]);
    QApplication* app = new QApplication(qtArgc, qtArgv);
    end_display_guard();
    // The Wayland app id: the desktop entry's name, for its icon and title.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.h264video.H264Video"));
    // The interface language, before the first text is shown.
    kvm_i18n::install_translators(kvm_i18n::wanted_languages([](const char* name) { return qEnvironmentVariable(name); }),
                                  kvm_i18n::catalogue_dirs());
#ifdef KVM_STARTUP_PROBE
    start_logger(cmd.logLevelGiven ? cmd.logLevel : LOG_LEVEL_TRACE, true);
#endif

    // Started from the desktop menu: the launch string is asked for.
    if (cmd.connectDialog && cmd.launchIndex < 0 && !cmd.launchFromStdin) {
        c_connect_dlg dialog;
        if (dialog.exec() != QDialog::Accepted) {
            delete app;
            return 0;
        }
        QByteArray text = dialog.take_launch_string();
        launch_prepare(text.constData(), buf);
        text.fill('\0');
    }

    if (launch_is_companion(buf)) {
        int rc = run_companion(buf);
        delete app;
        return rc;
    }

#ifndef KVM_STARTUP_PROBE
    start_logger(cmd.logLevel, false);
#endif
    launch_parse(buf, g_para);
    std::memset(buf, 0, sizeof buf);
    LOG_INFO("qt start,para.userID=%u", g_para.userID);
    LOG_INFO("platform %s: %s", qPrintable(QGuiApplication::platformName()), qPrintable(platform.why));
    LOG_INFO("system key info path:%s/key.xml", QFile::encodeName(kvm_paths::settings_dir()).constData());

    set_text_codecs();
    QDir::setCurrent(kvm_paths::settings_dir());

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
    // A signal or a window destroyed by another client ends the program the
    // way closing the window does: settings saved, channels ended in order.
    // A signal during the window's construction (the connect wait, an error
    // box) ends that box's loop and the program right after construction.
    H264Video* window = nullptr;
    bool endRequested = false;
    auto* requests = new shutdown_requests([&window, &endRequested] {
        LOG_INFO("ending on request from outside");
        endRequested = true;
        if (window)
            window->close();
        else if (QWidget* box = QApplication::activeModalWidget())
            box->close();  // quit() alone does not end a loop run before exec()
        QCoreApplication::quit();
    });
    window = new H264Video(nullptr, Qt::WindowFlags());
    window->setWindowTitle(*title);
    window->setMouseTracking(true);
    int rc = 0;
    if (endRequested) {
        window->close();
    } else {
        window->show();
        requests->watch_window(window->windowHandle());
        rc = app->exec();
    }
    delete requests;

    delete title;
    delete window;
    delete styleFile;
    delete app;
    LOG_INFO("qt end, exit code %d", rc);
    CLogerManager::instance()->stop();
    return rc;
}
