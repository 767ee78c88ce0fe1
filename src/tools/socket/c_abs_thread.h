#pragma once
// Root of all worker threads: a framework thread with no parent object.
#include <QThread>

class c_abs_thread : public QThread
{
    Q_OBJECT
public:
    c_abs_thread();
    ~c_abs_thread() override;

protected:
    void run() override = 0;
};
