#include "ui/sysKeyConfig.h"

#include <QKeyEvent>
#include <QSignalBlocker>
#include <QStringList>

#include "ui/ui_texts.h"

sysKeyConfig::sysKeyConfig(QWidget* parent) : QWidget(parent)
{
    ui.setupUi(this);

    const UiTexts& t = ui_texts();
    setWindowTitle(t.shotcutTitle);
    ui.label->setText(t.mappingName + ":");
    ui.label_2->setText(t.keyString + ":");
    ui.pb_add->setText(t.add);
    ui.pb_clear->setText(t.clear);
    ui.pb_modify->setText(t.modify);
    ui.pb_delete->setText(t.remove);

    connect(ui.pb_add, &QPushButton::clicked, this, &sysKeyConfig::on_add);
    connect(ui.pb_clear, &QPushButton::clicked, this, &sysKeyConfig::on_clear);
    connect(ui.pb_modify, &QPushButton::clicked, this, &sysKeyConfig::on_modify);
    connect(ui.pb_delete, &QPushButton::clicked, this, &sysKeyConfig::on_delete);
    connect(ui.listWidget, &QListWidget::currentTextChanged, this, &sysKeyConfig::onTextChange);
    connect(ui.listWidget, &QListWidget::itemClicked, this, &sysKeyConfig::onItemClicked);
    connect(ui.listWidget, &QListWidget::itemPressed, this, &sysKeyConfig::onItemClicked);

    ui.lineEdit_keyString->installEventFilter(this);

    for (int i = 0; i < 12; ++i)
        m_specialKeyNames.insert(Qt::Key_F1 + i, QString("F%1").arg(i + 1));
    m_specialKeyNames.insert(Qt::Key_Escape, "ESC");
    m_specialKeyNames.insert(Qt::Key_Pause, "PAUSE");
    m_specialKeyNames.insert(Qt::Key_Delete, "Delete");
}

namespace {

QString joinNames(const std::vector<SYSTEMKEYINFO>& keys)
{
    QStringList names;
    for (const SYSTEMKEYINFO& k : keys)
        names << k.str;
    return names.join(" + ");
}

}  // namespace

QString sysKeyConfig::keyName(int key, const QString& text) const
{
    switch (key) {
    case Qt::Key_Shift: return "Shift";
    case Qt::Key_Control: return "Control";
    case Qt::Key_Alt: return "Alt";
    case Qt::Key_Delete: return m_specialKeyNames.value(key);
    case Qt::Key_Escape: return "Esc";  // checked before the table's "ESC"
    case Qt::Key_Home: return "Home";
    case Qt::Key_Insert: return "Insert";
    case Qt::Key_Backspace: return "Backspace";
    case Qt::Key_Space: return "Space";
    case Qt::Key_ScrollLock: return "ScrollLock";
    case Qt::Key_CapsLock: return "CapsLock";
    case Qt::Key_End: return "End";
    case Qt::Key_PageUp: return "PageUp";
    case Qt::Key_PageDown: return "PageDown";
    case Qt::Key_Meta: return "Win";
    case Qt::Key_Tab: return "Tab";
    case Qt::Key_Enter: return "Enter";
    case Qt::Key_Return: return "Return";
    default: break;
    }
    if (!text.isEmpty())
        return text;
    return m_specialKeyNames.value(key);
}

bool sysKeyConfig::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != ui.lineEdit_keyString || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);

    // Every press counts, auto-repeats included; only Clear removes keys.
    const auto* ke = static_cast<QKeyEvent*>(event);
    m_currentKeys.push_back(SYSTEMKEYINFO{keyName(ke->key(), ke->text()), static_cast<int32_t>(ke->key())});
    showKeys(m_currentKeys);
    return true;
}

void sysKeyConfig::showKeys(const std::vector<SYSTEMKEYINFO>& keys)
{
    ui.lineEdit_keyString->setText(joinNames(keys));
}

void sysKeyConfig::loadKeyMap(const SysKeyMap& map)
{
    m_keyMap = map;
    // Refilling the rows must not act as a selection by the user.
    const QSignalBlocker block(ui.listWidget);
    ui.listWidget->clear();
    for (auto it = m_keyMap.constBegin(); it != m_keyMap.constEnd(); ++it) {
        if (!it.key().isEmpty())
            ui.listWidget->addItem(it.key());
    }
    // Each opening starts in the name field: a list that takes the focus makes
    // its first row current by itself, which would load that entry as if the
    // user had chosen it (and Delete would then remove it).
    ui.lineEdit_mappingName->setFocus();
}

void sysKeyConfig::on_add()
{
    const QString name = ui.lineEdit_mappingName->text();
    m_keyMap.insert(name, m_currentKeys);
    ui.listWidget->addItem(name);
    emit updateSysKeyMap(m_keyMap);
}

void sysKeyConfig::on_clear()
{
    m_currentKeys.clear();
    showKeys(m_currentKeys);
}

void sysKeyConfig::on_modify()
{
    // The row keeps its old text until the dialog is loaded again.
    m_keyMap.remove(m_currentName);
    m_keyMap.insert(ui.lineEdit_mappingName->text(), m_currentKeys);
    emit updateSysKeyMap(m_keyMap);
}

void sysKeyConfig::on_delete()
{
    if (m_currentName.isEmpty())
        return;
    m_keyMap.remove(m_currentName);
    // Taking the row makes another one current, which loads it before the map goes out.
    delete ui.listWidget->takeItem(ui.listWidget->currentRow());
    emit updateSysKeyMap(m_keyMap);
}

void sysKeyConfig::onTextChange(const QString& name)
{
    m_currentKeys = m_keyMap.value(name);
    m_currentName = name;
    ui.lineEdit_mappingName->setText(name);
    showKeys(m_currentKeys);
}

void sysKeyConfig::onItemClicked(QListWidgetItem* item)
{
    if (!item)
        return;
    const QString name = item->text();
    m_currentName = name;
    ui.lineEdit_mappingName->setText(name);
    showKeys(m_keyMap.value(name));
}
