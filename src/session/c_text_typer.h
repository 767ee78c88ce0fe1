#pragma once
// Text typed on the remote computer through the KM channel: each character
// becomes the key presses of the remote layout (c_xkb_typist), made only as
// the channel takes the previous ones, so a text of any length costs a few
// reports of memory. Typing stops at the first report the channel does not
// take (channel down or lost, no write privilege) and the result says how
// many characters arrived and why it stopped. Widget-free; lives on its
// owner's thread (the GUI thread in the viewer).
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class c_km_channel;
class c_xkb_typist;

class c_text_typer : public QObject
{
    Q_OBJECT
public:
    // Reports handed to the channel and not yet taken: enough to keep it busy
    // while this thread is elsewhere, few enough that a cancel ends at once.
    static constexpr size_t REPORTS_AHEAD = 16;

    struct result
    {
        int total = 0;    // characters of the text ("\r\n" counts once)
        int typed = 0;    // characters whose key press the channel took
        int skipped = 0;  // characters the remote layout has no key for
        QStringList skipped_names;  // each once, as untypable_names() gives them
        bool complete = false;      // every typable character typed
        QString reason;             // why it stopped short (empty when complete)
        // "typed N of M characters; <reason>" or "typed N characters".
        QString summary() const;
    };

    // may_write: whether the viewer holds write privilege now (any thread's answer).
    c_text_typer(c_km_channel* km, std::function<bool()> may_write, QObject* parent = nullptr);
    ~c_text_typer() override;

    // Each character of text the layout cannot type, once, as
    // "ü (U+00FC)"; control characters by their code only.
    static QStringList untypable_names(const c_xkb_typist& typist, const QString& text);
    static QString describe(char32_t c);

    // Why text cannot be typed now (no privilege, channel down, busy);
    // empty when it can.
    QString refusal() const;
    // Starts typing text with layout; characters the layout cannot type are
    // left out. False (and why) when it cannot start.
    bool start(const QString& text, const QString& layout, QString* why);
    // Stops making reports; those already handed over still go out (a press
    // is always followed by its release), then finished() follows.
    void cancel();
    bool busy() const { return m_job != nullptr; }
    int typed() const;
    int total() const;

signals:
    void progress(int typed, int total);
    void finished(const c_text_typer::result& r);

private:
    struct job;
    void on_channel_progress();
    void pump();
    void stop(const QString& reason);
    QString lost_reason() const;
    void finish();

    c_km_channel* m_km;
    std::function<bool()> m_may_write;
    std::unique_ptr<job> m_job;
    // Written by the channel's threads while a text is typed.
    std::atomic<bool> m_active{false};
    std::atomic<uint64_t> m_losses_at_start{0};
    std::atomic<uint64_t> m_taken{0};
    std::atomic<bool> m_lost{false};
    std::atomic<bool> m_posted{false};
};
