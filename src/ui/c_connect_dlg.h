#pragma once
// Asks for a launch string when the viewer was started without one (from the
// desktop menu): pasted into the field, or read from a file that holds one.
// Nothing typed here is kept: the field is wiped when the text is taken.
#include <QByteArray>
#include <QDialog>

class QLineEdit;
class QPushButton;

class c_connect_dlg : public QDialog
{
    Q_OBJECT
public:
    explicit c_connect_dlg(QWidget* parent = nullptr);
    ~c_connect_dlg() override;

    // The launch string given (trimmed); the field is emptied.
    QByteArray take_launch_string();

private:
    void open_file();

    QLineEdit* m_text;
    QPushButton* m_connect;
};
