#pragma once
// Root of all worker threads: a framework thread with no parent object.
#include <QDeadlineTimer>
#include <QThread>

class c_abs_thread : public QThread
{
    Q_OBJECT
public:
    c_abs_thread();
    ~c_abs_thread() override;

    // QThread's own. Under ThreadSanitizer a thread these report as ended also
    // counts as joined (see the source): owners call these, not QThread's.
    bool wait(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));
    bool wait(unsigned long time);
    bool isRunning() const;
    bool isFinished() const;

protected:
    void run() override = 0;
};
