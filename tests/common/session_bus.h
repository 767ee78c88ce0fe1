#pragma once
// A private session bus for a test: dbus-daemon started by the test and
// ended with it, so nothing reaches the developer's own bus.
#include <QProcess>
#include <QString>
#include <chrono>

#include "common/devsim_process.h"

class session_bus_process
{
public:
    ~session_bus_process() { stop(); }

    bool start()
    {
        end_with_the_test(proc);
        proc.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--print-address"), QStringLiteral("--nofork")});
        if (!proc.waitForStarted(10000))
            return false;
        QByteArray out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!out.contains('\n') && std::chrono::steady_clock::now() < end)
            if (proc.waitForReadyRead(200))
                out += proc.readAllStandardOutput();
        address = QString::fromLatin1(out).trimmed();
        return !address.isEmpty();
    }

    void stop()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.terminate();
            if (!proc.waitForFinished(3000)) {
                proc.kill();
                proc.waitForFinished(5000);
            }
        }
    }

    QProcess proc;
    QString address;
};
