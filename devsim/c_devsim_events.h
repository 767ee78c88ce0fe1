#pragma once
// The events file: one compact JSON object per line, written and flushed at
// once so that a test reading the file sees every line as soon as it exists.
//
// Received messages:
//   {"t":1712345678.123,"channel":"km","event":"recv","type":3,"len":9,
//    "hex":"030200040000000000","fields":{...}}
// Other lines carry "event" = "listen", "connect", "disconnect", "error",
// "send", "media" ... with their own fields.
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>

class c_devsim_events
{
public:
    c_devsim_events() = default;
    ~c_devsim_events();

    c_devsim_events(const c_devsim_events&) = delete;
    c_devsim_events& operator=(const c_devsim_events&) = delete;

    // Opens (truncates) the file; an empty path writes no file. hexMax bounds
    // the payload bytes shown in "hex" (0: all).
    bool open(const QString& path, int hexMax);
    void close();

    // One received message: body as delivered (after deciphering), type = body[0].
    void message(const char* channel, const uint8_t* body, uint32_t len, const QJsonObject& fields);

    // Any other line; "t", "channel" and "event" are added.
    void note(const char* channel, const char* event, const QJsonObject& fields = QJsonObject());

    // Lines also go to this observer (tests, --verbose), after the file.
    using observer = std::function<void(const QJsonObject&)>;
    void set_observer(observer fn);

    // Lower-case hex of at most max bytes (0: all).
    static QString hex(const uint8_t* bytes, uint32_t len, uint32_t max = 0);

    // Whether a file or an observer takes the events at all (callers skip
    // building fields nobody reads).
    bool wanted();

private:
    void write(QJsonObject obj);

    std::mutex m_mutex;
    FILE* m_file = nullptr;
    int m_hexMax = 64;
    observer m_observer;
};
