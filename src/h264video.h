#pragma once
// The main window: at once the window and the session controller.
#include <QMainWindow>

class H264Video : public QMainWindow
{
    Q_OBJECT
public:
    explicit H264Video(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~H264Video() override;
};
