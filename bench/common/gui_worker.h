#pragma once
// Benchmarks drive the window from a worker thread while the GUI thread runs
// its event loop, as it does in the program.
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>

#include <functional>
#include <thread>

namespace bench {

// Runs the GUI thread's event loop until work (on its own thread) returns.
inline void run_with_gui(const std::function<void()>& work)
{
    QEventLoop loop;
    std::thread t([&] {
        work();
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    t.join();
}

// Runs fn on the GUI thread and waits for it (from a worker thread).
inline void on_gui(QObject* context, const std::function<void()>& fn)
{
    QMetaObject::invokeMethod(context, fn, Qt::BlockingQueuedConnection);
}

}  // namespace bench
