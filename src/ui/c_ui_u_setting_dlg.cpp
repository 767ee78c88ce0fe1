#include "ui/c_ui_u_setting_dlg.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTimerEvent>
#include <algorithm>

#include "log/log.h"
#include "session_params.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "tools/socket/c_channel_keeper.h"
#include "ui/ui_texts.h"

namespace
{
// Marks the file-dialog entry of the drive list.
const int kImageEntryRole = Qt::UserRole + 1;
// The whole path of an entry; its text is the path elided to the box's width.
const int kPathRole = Qt::UserRole + 2;
// The transfer rate is shown as an average over at least this long.
const qint64 kRatePeriodMs = 1000;

c_ui_u_setting_dlg::options session_options()
{
    c_ui_u_setting_dlg::options opt;
    opt.ip = g_para.ip;
    opt.port = g_para.portMedia;
    opt.user_id = g_para.userID;
    return opt;
}

QString ask_for_image(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, c_ui_u_setting_dlg::tr("Disk image"), QDir::homePath(),
                                        c_ui_u_setting_dlg::tr("Disk images (*.img *.iso *.raw *.bin);;All files (*)"));
}
}  // namespace

c_ui_u_setting_dlg::c_ui_u_setting_dlg(QWidget* parent) : c_ui_u_setting_dlg(parent, session_options()) {}

c_ui_u_setting_dlg::c_ui_u_setting_dlg(QWidget* parent, options opt) : QDialog(parent), m_opt(std::move(opt))
{
    if (!m_opt.choose_image)
        m_opt.choose_image = &ask_for_image;
    m_proto = std::make_unique<c_media_protocol>(m_opt.clock, m_opt.sysfs_root);
    m_proto->set_pauses(m_opt.pauses);

    ui.setupUi(this);
    const UiTexts& t = ui_texts();
    setWindowTitle(t.virtualMediaTitle);
    ui.label->setText(t.mapDrive);
    ui.label_2->setText(t.mapMode);
    ui.checkBox->setText(t.readOnly);
    ui.mapButton->setText(t.map);
    ui.unmapButton->setText(t.unmap);
    set_idle_progress_label();
    set_status(QString());

    connect(ui.mapButton, &QPushButton::clicked, this, &c_ui_u_setting_dlg::on_slot_map);
    connect(ui.unmapButton, &QPushButton::clicked, this, &c_ui_u_setting_dlg::on_slot_unmap);
    connect(ui.askButton, &QPushButton::clicked, this, &c_ui_u_setting_dlg::on_slot_ask);
    connect(ui.comboBox, QOverload<int>::of(&QComboBox::activated), this,
            &c_ui_u_setting_dlg::on_drive_activated);
    connect(ui.comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &c_ui_u_setting_dlg::on_drive_changed);

    ui.comboBox->view()->setTextElideMode(Qt::ElideMiddle);
    ui.comboBox->installEventFilter(this);
    ui.pathLabel->installEventFilter(this);
    ui.comboBox->addItem(image_entry_text());
    ui.comboBox->setItemData(0, true, kImageEntryRole);
    on_slot_enum_device();
    ui.progPercent->setValue(0);

    // A port beyond 16 bits is refused rather than cut to another port. A
    // failed connect is said without holding the session up: the channel is
    // tried again in the background.
    const QString bad_port = m_opt.port == 0 ? QString() : session_port_problem(m_opt.ip.c_str(), m_opt.port);
    if (!bad_port.isEmpty())
    {
        LOG_ERROR("media connect error: %s", bad_port.toUtf8().constData());
        show_connect_error(bad_port);
    }
    else if (!m_proto->connect_channel(m_opt.ip.c_str(), static_cast<uint16_t>(m_opt.port)))
        show_connect_error(QString::fromStdString(m_proto->connect_error()));
    m_proto->start_channel(m_opt.user_id, this);

    m_refresh_timer = startTimer(REFRESH_PERIOD_MS);
}

void c_ui_u_setting_dlg::show_connect_error(const QString& where_and_why)
{
    auto* box = new QMessageBox(QMessageBox::Information, tr("提示"),
                                tr("虚拟媒体服务器连接出错.") + QLatin1Char('\n') + where_and_why, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

c_ui_u_setting_dlg::~c_ui_u_setting_dlg()
{
    if (m_refresh_timer)
        killTimer(m_refresh_timer);
    stop_mapping_timers();
    // The receive thread calls on_net_msg of this object: the channel ends
    // here, while the object is still whole.
    m_proto->shutdown();
}

unsigned char c_ui_u_setting_dlg::on_net_msg(const void* sender, const unsigned char* body,
                                             unsigned int plain_len_field, unsigned int body_len)
{
    return m_proto->on_net_msg(sender, body, plain_len_field, body_len);
}

QString c_ui_u_setting_dlg::image_entry_text()
{
    return tr("Disk image file...");
}

bool c_ui_u_setting_dlg::is_image_entry(int index) const
{
    return index >= 0 && ui.comboBox->itemData(index, kImageEntryRole).toBool();
}

QString c_ui_u_setting_dlg::path_at(int index) const
{
    return is_image_entry(index) ? QString() : ui.comboBox->itemData(index, kPathRole).toString();
}

QString c_ui_u_setting_dlg::current_path() const
{
    return path_at(ui.comboBox->currentIndex());
}

int c_ui_u_setting_dlg::find_path(const QString& path) const
{
    return path.isEmpty() ? -1 : ui.comboBox->findData(path, kPathRole, Qt::MatchExactly);
}

void c_ui_u_setting_dlg::elide_items()
{
    QComboBox* box = ui.comboBox;
    QStyleOptionComboBox opt;
    opt.initFrom(box);
    const int width =
        box->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, box).width();
    const QFontMetrics fm(box->font());
    for (int i = 0; i < box->count(); ++i)
    {
        const QString path = path_at(i);
        if (!path.isEmpty())
            box->setItemText(i, fm.elidedText(path, Qt::ElideMiddle, std::max(width, 40)));
    }
    const QString chosen = current_path();
    box->setToolTip(chosen);
    const QFontMetrics label_fm(ui.pathLabel->font());
    ui.pathLabel->setText(label_fm.elidedText(chosen, Qt::ElideMiddle, ui.pathLabel->width()));
    ui.pathLabel->setToolTip(chosen);
    ui.pathLabel->setVisible(!chosen.isEmpty());
}

bool c_ui_u_setting_dlg::eventFilter(QObject* watched, QEvent* event)
{
    // The paths are elided anew whenever the box changes its width.
    if ((watched == ui.comboBox || watched == ui.pathLabel) && event->type() == QEvent::Resize)
        elide_items();
    return QDialog::eventFilter(watched, event);
}

void c_ui_u_setting_dlg::set_status(const QString& text)
{
    // Shown only when there is something to say, so the form keeps its size.
    ui.statusLabel->setText(text);
    ui.statusLabel->setVisible(!text.isEmpty());
}

void c_ui_u_setting_dlg::set_idle_progress_label()
{
    ui.label_3->setText(ui_texts().progress + QStringLiteral(":"));
}

void c_ui_u_setting_dlg::stop_mapping_timers()
{
    if (m_progress_timer)
        killTimer(m_progress_timer);
    if (m_poll_timer)
        killTimer(m_poll_timer);
    m_progress_timer = m_poll_timer = 0;
}

// ---------------------------------------------------------------- slots

void c_ui_u_setting_dlg::on_slot_map()
{
    const int index = ui.comboBox->currentIndex();
    if (index < 0 || is_image_entry(index))
    {
        set_status(tr("Choose a drive or a disk image first."));
        return;
    }
    const QString path = current_path();
    if (path.isEmpty())
    {
        LOG_ERROR("c_ui_u_setting_dlg::c_ui_u_setting_dlg curLogicPath.empty()");
        return;
    }
    std::string error;
    if (!m_proto->map(QFile::encodeName(path).toStdString(), ui.checkBox->isChecked(), &error))
    {
        set_status(tr("Map failed: %1").arg(QString::fromLocal8Bit(error.c_str())));
        return;
    }

    ui.mapButton->setEnabled(false);
    ui.comboBox->setEnabled(false);
    ui.unmapButton->setEnabled(true);
    ui.askButton->setEnabled(true);
    ui.progPercent->setEnabled(true);
    ui.progPercent->setRange(0, 100);
    ui.progPercent->setValue(0);
    m_complete_shown = false;
    stop_mapping_timers();
    m_progress_timer = startTimer(PROGRESS_PERIOD_MS);
    m_poll_timer = startTimer(POLL_PERIOD_MS);
    set_idle_progress_label();
    m_rate_clock.start();
    m_rate_bytes = 0;
    set_status(tr("Mapped: %1 MB/s, %2 write failures").arg(QStringLiteral("0.0")).arg(0));
}

bool c_ui_u_setting_dlg::map_image(const QString& path, bool read_only, QString* why)
{
    if (m_proto->is_mapped())
    {
        *why = QStringLiteral("an image is mapped already: ") + QString::fromLocal8Bit(m_proto->mapped_path().c_str());
        return false;
    }
    if (!m_images.contains(path))
        m_images << path;
    on_slot_enum_device();
    ui.comboBox->setCurrentIndex(find_path(path));
    ui.checkBox->setChecked(read_only);
    on_slot_map();
    if (!m_proto->is_mapped())
    {
        *why = ui.statusLabel->text();
        return false;
    }
    return true;
}

void c_ui_u_setting_dlg::on_slot_unmap()
{
    m_proto->unmap();
    ui.mapButton->setEnabled(true);
    ui.comboBox->setEnabled(true);
    ui.unmapButton->setEnabled(false);
    ui.askButton->setEnabled(false);
    ui.progPercent->setValue(0);
    ui.progPercent->setEnabled(false);
    stop_mapping_timers();
    set_idle_progress_label();
    set_status(QString());
}

void c_ui_u_setting_dlg::on_slot_ask()
{
    // The device is asked through the status cycle; the button sends nothing.
}

void c_ui_u_setting_dlg::on_slot_readLocal() {}

void c_ui_u_setting_dlg::on_slot_enum_device()
{
    QStringList drives;
    for (const auto& drive : list_removable_drives(m_opt.sysfs_root))
        drives << QFile::decodeName(QByteArray::fromStdString(drive.first));
    QStringList keys = drives + m_images;
    keys.sort();
    keys.removeDuplicates();

    QComboBox* box = ui.comboBox;
    const QSignalBlocker quiet(box);  // a removal is no choice of the user's
    const QString chosen = current_path();
    for (int i = box->count() - 1; i >= 0; --i)
    {
        if (!is_image_entry(i) && !keys.contains(path_at(i)))
            box->removeItem(i);
    }
    for (const QString& key : keys)
    {
        if (find_path(key) >= 0)
            continue;
        // New entries go above the file-dialog entry, which stays last.
        int at = box->count();
        while (at > 0 && is_image_entry(at - 1))
            --at;
        box->insertItem(at, key);
        box->setItemData(at, key, kPathRole);
        box->setItemData(at, key, Qt::ToolTipRole);
    }
    const int kept = find_path(chosen);
    if (kept >= 0)
        box->setCurrentIndex(kept);
    choose_default_drive(drives);
    elide_items();
    if (current_path() != chosen)
        on_drive_changed(box->currentIndex());
}

void c_ui_u_setting_dlg::choose_default_drive(const QStringList& drives)
{
    // Resting on the file-dialog entry, Map would do nothing; a removable
    // drive is what the user most likely wants to map.
    if (m_choosing || !ui.comboBox->isEnabled() || drives.isEmpty())
        return;
    const int current = ui.comboBox->currentIndex();
    if (current >= 0 && !is_image_entry(current))
        return;
    QStringList sorted = drives;
    sorted.sort();
    const int at = find_path(sorted.first());
    if (at >= 0)
        ui.comboBox->setCurrentIndex(at);
}

void c_ui_u_setting_dlg::on_drive_changed(int index)
{
    if (index >= 0 && !is_image_entry(index))
        m_last_selection = path_at(index);
    elide_items();
}

void c_ui_u_setting_dlg::on_drive_activated(int index)
{
    if (!is_image_entry(index))
        return;
    m_choosing = true;
    const QString path = m_opt.choose_image(this);
    m_choosing = false;
    if (!path.isEmpty())
    {
        if (!m_images.contains(path))
            m_images << path;
        on_slot_enum_device();
        ui.comboBox->setCurrentIndex(find_path(path));
        set_status(QString());
        return;
    }
    // Cancelled: back to what was chosen before.
    const int previous = find_path(m_last_selection);
    if (previous >= 0)
        ui.comboBox->setCurrentIndex(previous);
}

// ---------------------------------------------------------------- timers

void c_ui_u_setting_dlg::show_progress()
{
    const bool complete = m_proto->progress_complete();
    // Once complete the display stays as it is; it is still brought to 100
    // once, even when the device's reads (not the idle time) completed it.
    if (complete && m_complete_shown)
        return;
    m_proto->progress_tick();
    m_complete_shown = m_proto->progress_complete();
    ui.progPercent->setValue(m_proto->progress_percent());
    const qint64 seconds = m_proto->ms_since_map() / 1000;
    ui.label_3->setText(ui_texts().progress + QStringLiteral("(") + QString::number(seconds) +
                        QStringLiteral("S\uFF09:"));
}

void c_ui_u_setting_dlg::show_transfer()
{
    const auto disk = m_proto->disk();
    if (!disk || !m_rate_clock.isValid() || m_rate_clock.elapsed() < kRatePeriodMs)
        return;
    const uint64_t bytes = disk->bytes_read() + disk->bytes_written();
    const qint64 ms = std::max<qint64>(m_rate_clock.restart(), 1);
    const double mb_per_s = double(bytes - std::min(bytes, m_rate_bytes)) / 1e3 / double(ms);
    m_rate_bytes = bytes;
    const uint64_t failures = disk->write_failures();
    QString text = (failures == 1 ? tr("Mapped: %1 MB/s, %2 write failure") : tr("Mapped: %1 MB/s, %2 write failures"))
                       .arg(mb_per_s, 0, 'f', 1)
                       .arg(failures);
    if (failures > 0)
        text += tr(" (first: %1)").arg(QString::fromLocal8Bit(disk->first_write_error().c_str()));
    // A device that stopped reading or acknowledging, or a channel being
    // connected again, is said here too.
    const channel_state state = m_proto->state();
    if (state == channel_state::stalled)
        text += QLatin1Char('\n') + tr("Stalled: the device has read or acknowledged nothing for 10 s.");
    else if (state == channel_state::reconnecting)
        text += QLatin1Char('\n') + tr("Channel lost: reconnecting (attempt %1).").arg(m_proto->reconnect_attempts());
    set_status(text);
}

void c_ui_u_setting_dlg::timerEvent(QTimerEvent* event)
{
    const int id = event->timerId();
    if (id == m_progress_timer && m_progress_timer)
    {
        show_progress();
        show_transfer();
    }
    else if (id == m_refresh_timer && m_refresh_timer)
        on_slot_enum_device();
    else if (id == m_poll_timer && m_poll_timer)
        m_proto->poll_tick();
    else
        QDialog::timerEvent(event);
}
