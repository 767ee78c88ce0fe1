#pragma once
// The real viewer driven like a user on a test's Xvfb: xdotool for keys,
// typing and clicks (each call bounded), the tool bar's media action found
// on screen by its icon, and the virtual media dialog's drive list, file
// dialog, read-only box and map button. Link X11 and Xtst (x11_display.h).
#include <QImage>
#include <QString>
#include <QStringList>

#include "common/screen_match.h"
#include "common/wait_until.h"
#include "common/x11_display.h"

class viewer_ui
{
public:
    static constexpr const char* k_media_dialog_title = "Virtual Media Setting";
    static constexpr const char* k_file_dialog_title = "Disk image";

    // source_dir: the project's source directory (for the tool bar icons).
    viewer_ui(const x11_display& x, const QString& source_dir) : m_x(x), m_source_dir(source_dir) {}

    // One xdotool call on the test's display, bounded.
    bool xdo(const QStringList& args) const { return m_x.xdotool(args); }

    // Gives a window the keyboard, as a window manager would on activation.
    bool focus(Window w) const
    {
        return xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(w)});
    }

    bool keys(Window w, const QStringList& names) const
    {
        return focus(w) &&
               xdo(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")} + names);
    }

    // The tool bar's media action, found on screen by its icon; the dialog's window.
    Window open_media_dialog(Window main) const
    {
        const QImage icon(m_source_dir + QStringLiteral("/resources/images/uvset.png"));
        icon_hit hit;
        wait_until(
            [&] {
                const QImage shot = m_x.screenshot();
                const QRect g = m_x.geometry(main);
                const QRgb bar = shot.pixel(g.left() + 1, g.bottom() - 1);
                hit = find_icon(shot, QRect(g.left(), g.top(), 64, g.height()), icon, bar);
                return hit.err < 4.0;
            },
            10000);
        if (hit.err >= 4.0)
            return 0;
        const QPoint c = hit.centre();
        xdo({QStringLiteral("mousemove"), QString::number(c.x()), QString::number(c.y()), QStringLiteral("click"),
             QStringLiteral("1")});
        return m_x.wait_window(k_media_dialog_title, false, 10000);
    }

    // The drive list's last entry opens the file dialog; the path is typed into it.
    bool choose_image(Window dialog, const QString& file) const
    {
        const size_t windows = m_x.find_windows("", true).size();
        // Focus starts on the line edit; the drive list is next. Its list pops
        // up on Space as one more top-level window; End goes to the last entry.
        if (!keys(dialog, {QStringLiteral("Tab"), QStringLiteral("space")}) ||
            !wait_until([&] { return m_x.find_windows("", true).size() > windows; }, 10000))
            return false;
        if (!xdo({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("End"),
                  QStringLiteral("Return")}))
            return false;
        const Window fd = m_x.wait_window(k_file_dialog_title, false, 10000);
        if (!fd || !focus(fd) ||
            !xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), file}) ||
            !xdo({QStringLiteral("key"), QStringLiteral("Return")}))
            return false;
        // Until the file dialog's own pop-ups (its path completer) are gone too,
        // they take the keys meant for the media dialog.
        return wait_until([&] { return m_x.find_windows("", true).size() == windows; }, 10000);
    }

    // Focus is back on the drive list: the check box and the map button
    // follow in tab order.
    bool press_map(Window dialog, bool read_only) const
    {
        QStringList k{QStringLiteral("Tab")};
        if (read_only)
            k << QStringLiteral("space");
        k << QStringLiteral("Tab") << QStringLiteral("space");
        return keys(dialog, k);
    }

    // Escape closes the dialog (the mapping stays).
    bool close_dialog(Window dialog) const
    {
        return keys(dialog, {QStringLiteral("Escape")}) &&
               wait_until([&] { return m_x.find_windows(k_media_dialog_title).empty(); }, 10000);
    }

private:
    const x11_display& m_x;
    QString m_source_dir;
};
