#pragma once
// What the session-bus interface needs from the running session and cannot
// take from the channels themselves. The viewer fills it in; every function
// runs on the GUI thread.
#include <QImage>
#include <QSize>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <vector>

class c_km_channel;
class c_text_typer;

struct c_session_hooks
{
    c_km_channel* km = nullptr;
    c_text_typer* typer = nullptr;
    std::function<bool()> may_write;
    std::function<QString()> remote_layout;
    std::function<bool()> absolute_mouse;
    // Size of the newest decoded picture (0 x 0 before the first) and the
    // picture itself at that size (null before the first).
    std::function<QSize()> picture_size;
    std::function<QImage()> picture;
    // The rest of the status: channel states, mapped image, progress, recording.
    std::function<QVariantMap()> status;
    // A stored key sequence of the key menu by name, as Qt key codes; false
    // when there is none of that name.
    std::function<bool(const QString& name, std::vector<int>& keys)> key_sequence;
    // The keyboard report that holds these Qt key codes at once.
    std::function<void(const std::vector<int>& keys, unsigned char* report)> chord_report;
    // Media: false and why when the image cannot be mapped.
    std::function<bool(const QString& path, bool read_only, QString* why)> map;
    std::function<void()> unmap;
    // Recording: false and why when it does not start.
    std::function<bool(QString* why)> record_start;
    std::function<void()> record_stop;
};
