#include "ui/c_ui_u_setting_dlg.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimerEvent>
#include <algorithm>

#include "log/log.h"
#include "session_params.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "ui/ui_texts.h"

namespace
{
// Marks the file-dialog entry of the drive list.
const int kImageEntryRole = Qt::UserRole + 1;

c_ui_u_setting_dlg::options session_options()
{
    c_ui_u_setting_dlg::options opt;
    opt.ip = g_para.ip;
    opt.port = static_cast<uint16_t>(g_para.portMedia);
    opt.user_id = g_para.userID;
    return opt;
}

QString ask_for_image(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Disk image"), QString(),
                                        QStringLiteral("Disk images (*.img *.iso *.raw *.bin);;All files (*)"));
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

    connect(ui.mapButton, &QPushButton::clicked, this, &c_ui_u_setting_dlg::on_slot_map);
    connect(ui.unmapButton, &QPushButton::clicked, this, &c_ui_u_setting_dlg::on_slot_unmap);
    connect(ui.askButton, &QPushButton::clicked, this, &c_ui_u_setting_dlg::on_slot_ask);
    connect(ui.comboBox, QOverload<int>::of(&QComboBox::activated), this,
            &c_ui_u_setting_dlg::on_drive_activated);
    connect(ui.comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &c_ui_u_setting_dlg::on_drive_changed);

    ui.comboBox->addItem(image_entry_text());
    ui.comboBox->setItemData(0, true, kImageEntryRole);
    on_slot_enum_device();
    ui.progPercent->setValue(0);

    if (!m_proto->connect_channel(m_opt.ip.c_str(), m_opt.port))
        QMessageBox::information(this, QStringLiteral("提示"), QStringLiteral("虚拟媒体服务器连接出错."),
                                 QMessageBox::Ok);
    m_proto->start_channel(m_opt.user_id, this);

    m_refresh_timer = startTimer(REFRESH_PERIOD_MS);
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
    return QStringLiteral("Disk image file...");
}

bool c_ui_u_setting_dlg::is_image_entry(int index) const
{
    return index >= 0 && ui.comboBox->itemData(index, kImageEntryRole).toBool();
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
        return;
    const QString path = ui.comboBox->currentText();
    if (path.isEmpty())
    {
        LOG_ERROR("c_ui_u_setting_dlg::c_ui_u_setting_dlg curLogicPath.empty()");
        return;
    }
    if (!m_proto->map(QFile::encodeName(path).toStdString(), ui.checkBox->isChecked()))
        return;

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
}

void c_ui_u_setting_dlg::on_slot_ask()
{
    // The device is asked through the status cycle; the button sends nothing.
}

void c_ui_u_setting_dlg::on_slot_readLocal() {}

void c_ui_u_setting_dlg::on_slot_enum_device()
{
    QStringList keys;
    for (const auto& drive : list_removable_drives(m_opt.sysfs_root))
        keys << QFile::decodeName(QByteArray::fromStdString(drive.first));
    keys << m_images;
    keys.sort();
    keys.removeDuplicates();

    QComboBox* box = ui.comboBox;
    for (int i = box->count() - 1; i >= 0; --i)
    {
        if (!is_image_entry(i) && !keys.contains(box->itemText(i)))
            box->removeItem(i);
    }
    for (const QString& key : keys)
    {
        if (box->findText(key, Qt::MatchExactly) >= 0)
            continue;
        // New entries go above the file-dialog entry, which stays last.
        int at = box->count();
        while (at > 0 && is_image_entry(at - 1))
            --at;
        box->insertItem(at, key);
    }
}

void c_ui_u_setting_dlg::on_drive_changed(int index)
{
    if (index >= 0 && !is_image_entry(index))
        m_last_selection = ui.comboBox->itemText(index);
}

void c_ui_u_setting_dlg::on_drive_activated(int index)
{
    if (!is_image_entry(index))
        return;
    const QString path = m_opt.choose_image(this);
    if (!path.isEmpty())
    {
        if (!m_images.contains(path))
            m_images << path;
        on_slot_enum_device();
        ui.comboBox->setCurrentIndex(ui.comboBox->findText(path, Qt::MatchExactly));
        return;
    }
    // Cancelled: back to what was chosen before.
    const int previous = m_last_selection.isEmpty() ? -1 : ui.comboBox->findText(m_last_selection, Qt::MatchExactly);
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

void c_ui_u_setting_dlg::timerEvent(QTimerEvent* event)
{
    const int id = event->timerId();
    if (id == m_progress_timer && m_progress_timer)
        show_progress();
    else if (id == m_refresh_timer && m_refresh_timer)
        on_slot_enum_device();
    else if (id == m_poll_timer && m_poll_timer)
        m_proto->poll_tick();
    else
        QDialog::timerEvent(event);
}
