#pragma once
// Virtual media dialog: lists the removable drives (and the disk images the
// user picked), maps one to the device as a virtual USB disk, optionally
// read-only, unmaps it and shows the progress of the device's first reads,
// why a map failed, and while mapped the transfer rate and the writes that
// failed locally. A removable drive, when there is one, is chosen at first.
// It owns the media channel through c_media_protocol, which does all the
// protocol work without widgets; the main window builds the dialog once,
// hidden, and shows it from the tool bar.
#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "thread/c_media_protocol.h"
#include "tools/socket/c_abs_net_handler.h"
#include "ui/ui_u_setting_dlg.h"


class c_ui_u_setting_dlg : public QDialog, public c_abs_net_handler
{
    Q_OBJECT
public:
    static constexpr int REFRESH_PERIOD_MS = 1000;
    static constexpr int PROGRESS_PERIOD_MS = 300;
    static constexpr int POLL_PERIOD_MS = 50;

    // What the session normally supplies; tests replace parts of it.
    struct options
    {
        std::string ip;
        uint32_t port = 0;  // 0: the default media port; above 65535: refused
        uint32_t user_id = 0;
        c_media_protocol::clock_fn clock;
        c_media_protocol::pauses pauses;
        std::string sysfs_root = "/sys";
        // Asks the user for a disk image; an empty result means cancelled.
        std::function<QString(QWidget*)> choose_image;
    };

    // Connects to the device of the launch parameters.
    explicit c_ui_u_setting_dlg(QWidget* parent);
    c_ui_u_setting_dlg(QWidget* parent, options opt);
    // Announces the unmap, ends the channel and closes the disk.
    ~c_ui_u_setting_dlg() override;


    c_media_protocol& protocol() { return *m_proto; }

    // Called on the media receive thread; touches no widget.
    unsigned char on_net_msg(const void* sender, const unsigned char* body, unsigned int plain_len_field,
                             unsigned int body_len) override;

    // The last entry of the drive list, which opens a file dialog.
    static QString image_entry_text();
    bool is_image_entry(int index) const;
    // The whole path of an entry (the list shows it elided in the middle)
    // and the index of the entry of a path (-1: none).
    QString path_at(int index) const;
    QString current_path() const;
    int find_path(const QString& path) const;
    // Maps a disk image as the Map button would, the image added to the list
    // and chosen first. False (and why) when it was not mapped.
    bool map_image(const QString& path, bool read_only, QString* why);

    Ui_uSetingDialog ui;

public slots:
    void on_slot_map();
    void on_slot_unmap();
    void on_slot_ask();
    void on_slot_enum_device();
    void on_slot_readLocal();

protected:
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void on_drive_activated(int index);
    void on_drive_changed(int index);

private:
    // The connect error box (its usual text, then where and why), not modal.
    void show_connect_error(const QString& where_and_why);
    void set_idle_progress_label();
    void show_progress();
    void stop_mapping_timers();
    void show_transfer();
    void set_status(const QString& text);
    void elide_items();
    void choose_default_drive(const QStringList& drives);

    options m_opt;
    std::unique_ptr<c_media_protocol> m_proto;
    QStringList m_images;     // images the user picked; they stay in the list
    QString m_last_selection; // last real entry, restored when the file dialog is cancelled
    int m_refresh_timer = 0;
    int m_progress_timer = 0;
    int m_poll_timer = 0;
    bool m_complete_shown = false;
    bool m_choosing = false;  // the file dialog is open
    QElapsedTimer m_rate_clock;
    uint64_t m_rate_bytes = 0;
};
