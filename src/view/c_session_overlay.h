#pragma once
// Shows the session's status over the picture: the connection box in the
// middle (with "Try again" after a refused login) and the notices at the
// bottom left. Both stay inside the picture area whatever its size: the box
// takes a smaller font, then elides its lines, and both follow a resize.
#include <QObject>
#include <QString>
#include <QStringList>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

class c_session_overlay : public QObject
{
    Q_OBJECT
public:
    // Lives on area (the widget the picture fills); owned by it.
    explicit c_session_overlay(QWidget* area);

    // The text of the box (empty: hidden) and whether it offers to try again.
    void set_box(const QString& text, bool offer_retry);
    // The notices, oldest first (empty: hidden).
    void set_notices(const QStringList& lines);

    // For tests: the texts as set, whatever was elided.
    QString box_text() const { return m_boxText; }
    QStringList notice_lines() const { return m_notices; }
    bool box_shown() const;

signals:
    void retry_requested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layout_box();
    void layout_notices();

    QWidget* m_area;
    QFrame* m_box;
    QLabel* m_boxLabel;
    QPushButton* m_retry;
    QLabel* m_noticeLabel;
    QString m_boxText;
    bool m_offerRetry = false;
    QStringList m_notices;
};
