// The key menu: stored key sequences and the built-in Print Screen and
// Ctrl+Alt+Del, sent to the remote computer as one chord each, pasting text as
// keystrokes, the keyboard settings, and the key setting dialog whose edits
// are saved to key.xml and shown in the menu at once.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

#include "h264video.h"
#include "log/log.h"
#include "ui/c_config_file.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/km_messages.h"
#include "ui/c_key_file.h"
#include "ui/sysKeyConfig.h"

namespace {

const char* const DATA_SET_KEY = "_setshortkey";
const char* const DATA_PRINT_SCREEN = "_printscreen";
const char* const DATA_TASK_MGR = "_taskMgr";
const char* const DATA_PASTE_TEXT = "_pasteText";
const char* const DATA_KEYS_BY_POSITION = "_keysByPosition";
const char* const DATA_KEYS_BY_CHARACTER = "_keysByCharacter";
const char* const DATA_REMOTE_LAYOUT = "_remoteLayout";
const char* const DATA_SCREENSHOT = "_screenshot";

// Stored sequences use this code for Print Screen (the translator maps it to usage 0x46).
const int KEY_PRINT_SCREEN = 0x010000BA;

}  // namespace

void H264Video::setupKeyMenu()
{
    m_keyFile = std::make_shared<c_key_file>(
        kvm_paths::settings_file(QStringLiteral("key.xml")));
    m_keyFile->load(m_sysKeyMap);

    m_sysKeyConfig = std::make_shared<sysKeyConfig>();
    // A window of its own, but closing the main window must still end the
    // program while it is open.
    m_sysKeyConfig->setAttribute(Qt::WA_QuitOnClose, false);
    connect(m_sysKeyConfig.get(), &sysKeyConfig::updateSysKeyMap, this, &H264Video::on_updateSyskey);

    // The menu shows the keyboard mode and the remote layout: read them first.
    c_config_file config(kvm_paths::settings_file(QStringLiteral("config.xml")));
    c_input_settings settings;
    config.loadInput(settings);
    m_keysByPosition = settings.keysByPosition;
    m_remoteLayout = settings.remoteLayout;

    QMenu* menu = new QMenu(this);
    fillKeyMenu(menu);
    connect(menu, &QMenu::triggered, this, &H264Video::onToolbarMenu);

    QToolButton* button = new QToolButton(this);
    button->setIcon(QIcon(QStringLiteral(":/image/Resources/win.png")));
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    m_keyMenuAction = ui.toolBar->addWidget(button);
    // The key menu keeps its place right after the eight actions; the
    // viewer's own ones come after it.
    ui.toolBar->addAction(ui.actionActualSize);

    setupKeyboardInput();
}

void H264Video::fillKeyMenu(QMenu* menu)
{
    for (auto it = m_sysKeyMap.constBegin(); it != m_sysKeyMap.constEnd(); ++it) {
        if (it.key().isEmpty())
            continue;
        QAction* a = new QAction(it.key(), this);
        a->setData(it.key());
        menu->addAction(a);
    }

    QAction* print = new QAction(QStringLiteral("PrtScreen"), this);
    print->setData(QString::fromLatin1(DATA_PRINT_SCREEN));
    menu->addAction(print);

    QAction* taskMgr = new QAction(QStringLiteral("Ctrl+Alt+Del"), this);
    taskMgr->setData(QString::fromLatin1(DATA_TASK_MGR));
    menu->addAction(taskMgr);

    QAction* paste = new QAction(tr("Paste Text") + QStringLiteral("\tCtrl+Alt+Shift+V"), this);
    paste->setData(QString::fromLatin1(DATA_PASTE_TEXT));
    menu->addAction(paste);

    QAction* byPosition = new QAction(tr("Keyboard: by key position"), this);
    byPosition->setData(QString::fromLatin1(DATA_KEYS_BY_POSITION));
    byPosition->setCheckable(true);
    byPosition->setChecked(m_keysByPosition);
    menu->addAction(byPosition);

    QAction* byCharacter = new QAction(tr("Keyboard: by character"), this);
    byCharacter->setData(QString::fromLatin1(DATA_KEYS_BY_CHARACTER));
    byCharacter->setCheckable(true);
    byCharacter->setChecked(!m_keysByPosition);
    menu->addAction(byCharacter);

    QAction* layout = new QAction(tr("Remote Layout: %1...").arg(m_remoteLayout), this);
    layout->setData(QString::fromLatin1(DATA_REMOTE_LAYOUT));
    menu->addAction(layout);

    QAction* screenshot = new QAction(tr("Save Screenshot"), this);
    screenshot->setData(QString::fromLatin1(DATA_SCREENSHOT));
    menu->addAction(screenshot);

    QAction* setKey = new QAction(QIcon(QStringLiteral(":/image/setting_16px.png")), tr("Set Key(&S)..."), this);
    setKey->setData(QString::fromLatin1(DATA_SET_KEY));
    setKey->setIconVisibleInMenu(true);
    menu->addAction(setKey);
}

QMenu* H264Video::keyMenu() const
{
    if (!m_keyMenuAction)
        return nullptr;
    const QToolButton* button = qobject_cast<QToolButton*>(ui.toolBar->widgetForAction(m_keyMenuAction));
    return button ? button->menu() : nullptr;
}

void H264Video::onToolbarMenu(QAction* action)
{
    if (!action)
        return;
    const QString s = action->data().toString();
    if (s == QLatin1String(DATA_SET_KEY)) {
        onKeySetting();
        return;
    }
    if (s == QLatin1String(DATA_PASTE_TEXT)) {
        onPasteText();
        return;
    }
    if (s == QLatin1String(DATA_KEYS_BY_POSITION) || s == QLatin1String(DATA_KEYS_BY_CHARACTER)) {
        // Keys held now were pressed under the old mode: let them go first.
        releaseHeldInput(false);
        m_keysByPosition = s == QLatin1String(DATA_KEYS_BY_POSITION);
        if (QMenu* menu = keyMenu())
            for (QAction* a : menu->actions()) {
                if (a->data().toString() == QLatin1String(DATA_KEYS_BY_POSITION))
                    a->setChecked(m_keysByPosition);
                else if (a->data().toString() == QLatin1String(DATA_KEYS_BY_CHARACTER))
                    a->setChecked(!m_keysByPosition);
            }
        saveInputSettings();
        return;
    }
    if (s == QLatin1String(DATA_REMOTE_LAYOUT)) {
        onRemoteLayout();
        if (QMenu* menu = keyMenu())
            for (QAction* a : menu->actions())
                if (a->data().toString() == QLatin1String(DATA_REMOTE_LAYOUT))
                    a->setText(tr("Remote Layout: %1...").arg(m_remoteLayout));
        return;
    }
    if (s == QLatin1String(DATA_SCREENSHOT)) {
        saveScreenshot();
        return;
    }

    // The built-in names are checked first, so a stored sequence with one of
    // these names acts as the built-in entry.
    std::vector<int> keys;
    if (s == QLatin1String(DATA_PRINT_SCREEN)) {
        keys = {KEY_PRINT_SCREEN};
    } else if (s == QLatin1String(DATA_TASK_MGR)) {
        keys = {Qt::Key_Control, Qt::Key_Alt, Qt::Key_Delete};
    } else {
        for (const SYSTEMKEYINFO& k : m_sysKeyMap.value(s))
            keys.push_back(k.value);
    }

    unsigned char report[KM_KEYBOARD_LEN] = {0};
    if (m_keyTranslator)
        m_keyTranslator->sequenceReport(keys, report);
    else
        c_key_translator().sequenceReport(keys, report);
    // Press, then release: one chord, once.
    sendKmMessage(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, report);
    const unsigned char released[KM_KEYBOARD_LEN] = {0};
    sendKmMessage(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, released);
}

void H264Video::onKeySetting()
{
    if (!m_sysKeyConfig)
        return;
    m_sysKeyConfig->loadKeyMap(m_sysKeyMap);
    m_sysKeyConfig->show();
    m_sysKeyConfig->raise();
    m_sysKeyConfig->activateWindow();
}

void H264Video::on_updateSyskey(QMap<QString, std::vector<SYSTEMKEYINFO> >& mSyskey)
{
    m_sysKeyMap = mSyskey;
    // A failed save (no key file) keeps the new map for this run only.
    if (m_keyFile)
        m_keyFile->save(m_sysKeyMap);

    QMenu* menu = keyMenu();
    if (!menu)
        return;
    // The entries belong to the window, not to the menu: clear() only takes them out.
    const QList<QAction*> old = menu->actions();
    menu->clear();
    for (QAction* a : old)
        a->deleteLater();
    fillKeyMenu(menu);
}
