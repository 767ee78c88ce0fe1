// devsim: a KVM-over-IP device on 127.0.0.1 for the H264Video viewer.
// The first line on standard output is the viewer's launch string; commands
// come from standard input and the control port; Ctrl+C ends it.
#include <QDir>
#include <QGuiApplication>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "c_devsim.h"

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char** argv)
{
    // The device draws its desktop off screen; it never opens a window.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    c_devsim_options opt;
    QString error;
    bool help = false;
    if (!opt.parse(app.arguments().mid(1), &error, &help)) {
        fprintf(stderr, "devsim: %s\n", qPrintable(error));
        return 2;
    }
    if (help) {
        fputs(qPrintable(c_devsim_options::usage()), stdout);
        return 0;
    }

    QString filesDir;
    if (!opt.placeDefaultFiles(&filesDir, &error)) {
        fprintf(stderr, "devsim: %s\n", qPrintable(error));
        return 1;
    }
    if (!filesDir.isEmpty())
        fprintf(stderr, "devsim: events file %s, image file %s\n",
                opt.eventsFile.isEmpty() ? "none" : qPrintable(opt.eventsFile), qPrintable(opt.mediaOut));

    // The encoder's statistics only with --verbose.
    av_log_set_level(opt.verbose ? AV_LOG_INFO : AV_LOG_ERROR);

    // Signals are taken by one thread with sigwait, so no other thread is
    // ever interrupted inside a send.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);

    c_devsim dev(opt);
    if (!dev.start(&error)) {
        fprintf(stderr, "devsim: %s\n", qPrintable(error));
        return 1;
    }
    printf("%s\n", qPrintable(dev.launch_string()));
    printf("devsim: video %u, KM %u, media %u on 127.0.0.1", dev.port_video(), dev.port_km(), dev.port_media());
    if (dev.port_control())
        printf(", control %u", dev.port_control());
    printf("; %dx%d at %d frames/s; type help for commands\n", dev.screen().width(), dev.screen().height(),
           opt.fps);
    fflush(stdout);

    std::thread signalThread([&dev, set] {
        int sig = 0;
        if (sigwait(&set, &sig) == 0 && !dev.quit_requested()) {
            dev.log("signal %d: ending", sig);
            dev.request_quit();
        }
    });

    std::thread input;
    if (opt.readStdin) {
        input = std::thread([&dev] {
            std::string line;
            char buf[4096];
            while (!dev.quit_requested()) {
                pollfd p{0, POLLIN, 0};
                const int r = poll(&p, 1, 200);
                if (r <= 0)
                    continue;
                const ssize_t n = read(0, buf, sizeof buf);
                if (n <= 0)
                    return;  // standard input ended: the control port still works
                line.append(buf, size_t(n));
                size_t nl;
                while ((nl = line.find('\n')) != std::string::npos) {
                    const QString cmd = QString::fromLocal8Bit(line.substr(0, nl).c_str()).trimmed();
                    line.erase(0, nl + 1);
                    if (cmd.isEmpty())
                        continue;
                    printf("%s\n", qPrintable(dev.command(cmd)));
                    fflush(stdout);
                }
            }
        });
    }

    dev.wait_quit();
    dev.stop();
    // Wake the signal thread when the quit came from a command.
    pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
    if (input.joinable())
        input.join();
    // A run that wrote nothing there leaves no empty directory behind.
    if (!filesDir.isEmpty())
        QDir().rmdir(filesDir);
    return 0;
}
