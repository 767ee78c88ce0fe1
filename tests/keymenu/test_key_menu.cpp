// The key menu of a real main window (offscreen) connected to the in-process
// test device: entries from key.xml beside the executable (this test has a
// directory of its own), chords sent as press and release, the key setting
// dialog, and updates saved and shown at once.
#include <gtest/gtest.h>

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QToolButton>

#include "common/devsim_window.h"
#include "common/h264video_input_peer.h"
#include "tools/key_mouse/km_messages.h"
#include "ui/c_key_file.h"

namespace {

using bytes = std::vector<uint8_t>;

bytes kb(std::initializer_list<uint8_t> report)
{
    return devsim_window::keyboard(report);
}

QString key_file_path()
{
    test_application();
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("key.xml"));
}

void write_key_file(const char* text)
{
    QFile f(key_file_path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

// Stored names in file order b, A, (empty), _taskMgr.
const char* const KEY_FILE =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<root><other keep=\"1\"/><common>"
    "<key name=\"b\"><keyValue value=\"16777248\" str=\"Shift\"/><keyValue value=\"65\" str=\"A\"/>"
    "<keyValue value=\"66\" str=\"B\"/></key>"
    "<key name=\"A\"><keyValue value=\"16777249\" str=\"Control\"/><keyValue value=\"16777267\" str=\"F4\"/></key>"
    "<key name=\"\"><keyValue value=\"65\" str=\"A\"/></key>"
    "<key name=\"_taskMgr\"><keyValue value=\"16777264\" str=\"F1\"/></key>"
    "</common></root>\n";

const QStringList FIXED_TEXTS{QStringLiteral("PrtScreen"),
                              QStringLiteral("Ctrl+Alt+Del"),
                              QStringLiteral("Paste Text\tCtrl+Alt+Shift+V"),
                              QStringLiteral("Keyboard: by key position"),
                              QStringLiteral("Keyboard: by character"),
                              QStringLiteral("Remote Layout: us..."),
                              QStringLiteral("Save Screenshot"),
                              QStringLiteral("Set Key(&S)...")};
const QStringList FIXED_DATA{QStringLiteral("_printscreen"),    QStringLiteral("_taskMgr"),
                             QStringLiteral("_pasteText"),      QStringLiteral("_keysByPosition"),
                             QStringLiteral("_keysByCharacter"), QStringLiteral("_remoteLayout"),
                             QStringLiteral("_screenshot"),     QStringLiteral("_setshortkey")};

bool ready(devsim_window& d)
{
    H264Video& w = *d.window;
    w.show();
    return pump_until([&] { return H264VideoInputPeer::sampleTimer(w) != 0; });
}

// Chooses the entry with that data string and returns the keyboard reports
// the device received from its press on. All-keys-up reports from the window
// losing the focus to a dialog may come before or after; beyond the release
// they are left out, any report with a key in it is kept.
std::vector<bytes> choose(devsim_window& d, const QString& data)
{
    H264Video& w = *d.window;
    const size_t mark = d.km_count();
    QAction* entry = H264VideoInputPeer::menuEntry(w, data);
    if (!entry)
        return {};
    entry->trigger();
    std::vector<bytes> out;
    pump_until([&] {
        out.clear();
        for (const auto& m : d.km_since(mark, CMD_KM_KEYBOARD))
            if (!out.empty() || m.body != kb({0}))
                out.push_back(m.body);
        return out.size() >= 2;
    });
    pump_for(50);  // a repeated chord would show by now
    out.clear();
    for (const auto& m : d.km_since(mark, CMD_KM_KEYBOARD))
        if (m.body != kb({0}) || out.size() == 1)
            out.push_back(m.body);
    return out;
}

bool same_picture(const QIcon& a, const QString& path)
{
    const QImage shown = a.pixmap(QSize(16, 16)).toImage();
    return !shown.isNull() && shown == QIcon(path).pixmap(QSize(16, 16)).toImage();
}

QString config_file_path()
{
    return QDir(QFileInfo(key_file_path()).absolutePath()).filePath(QStringLiteral("config.xml"));
}

class KeyMenu : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile::remove(key_file_path());
        QFile::remove(config_file_path());
    }
    void TearDown() override { SetUp(); }
};

}  // namespace

TEST_F(KeyMenu, WithoutKeyFileOnlyTheFixedEntriesAndUpdatesLiveInMemoryOnly)
{
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(ready(d));

    EXPECT_EQ(H264VideoInputPeer::menuTexts(w), FIXED_TEXTS);
    EXPECT_EQ(H264VideoInputPeer::menuData(w), FIXED_DATA);
    for (QAction* a : H264VideoInputPeer::keyMenu(w)->actions()) {
        EXPECT_FALSE(a->isSeparator());
        EXPECT_EQ(a->parent(), &w);
    }
    QAction* setKey = H264VideoInputPeer::menuEntry(w, QStringLiteral("_setshortkey"));
    ASSERT_NE(setKey, nullptr);
    EXPECT_TRUE(setKey->isIconVisibleInMenu());
    EXPECT_TRUE(same_picture(setKey->icon(), QStringLiteral(":/image/setting_16px.png")));

    // The button: right after the eight actions, opening the menu at once;
    // the viewer's own actions follow it.
    QAction* buttonAction = H264VideoInputPeer::keyMenuAction(w);
    ASSERT_NE(buttonAction, nullptr);
    EXPECT_EQ(w.ui.toolBar->actions().indexOf(buttonAction), 8);
    for (const char* later : {"actionActualSize", "actionGrabKeyboard", "actionRecord"}) {
        const QList<QAction*> acts = w.ui.toolBar->actions();
        const auto it = std::find_if(acts.begin(), acts.end(),
                                     [&](QAction* a) { return a->objectName() == QLatin1String(later); });
        ASSERT_NE(it, acts.end()) << later;
        EXPECT_GT(int(it - acts.begin()), int(Ui_H264VideoClass::POS_KEY_MENU)) << later;
    }
    auto* button = qobject_cast<QToolButton*>(w.ui.toolBar->widgetForAction(buttonAction));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->popupMode(), QToolButton::InstantPopup);
    EXPECT_EQ(button->menu(), H264VideoInputPeer::keyMenu(w));
    EXPECT_TRUE(same_picture(button->icon(), QStringLiteral(":/image/Resources/win.png")));

    // A sequence added in the dialog is in the menu at once; no file is made.
    SysKeyMap map;
    map.insert(QStringLiteral("Close"), {SYSTEMKEYINFO{QStringLiteral("Alt"), Qt::Key_Alt},
                                         SYSTEMKEYINFO{QStringLiteral("F4"), Qt::Key_F4}});
    emit H264VideoInputPeer::keyDialog(w)->updateSysKeyMap(map);
    EXPECT_EQ(H264VideoInputPeer::menuTexts(w), QStringList{QStringLiteral("Close")} + FIXED_TEXTS);
    EXPECT_FALSE(QFile::exists(key_file_path()));
    EXPECT_EQ(choose(d, QStringLiteral("Close")), (std::vector<bytes>{kb({4, 0, 0x3D}), kb({0})}));
}

TEST_F(KeyMenu, StoredSequencesInNameOrderSentAsOneChordThenRelease)
{
    write_key_file(KEY_FILE);
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(ready(d));

    // Name order (upper case first), the empty name left out.
    EXPECT_EQ(H264VideoInputPeer::menuTexts(w),
              QStringList({QStringLiteral("A"), QStringLiteral("_taskMgr"), QStringLiteral("b")}) + FIXED_TEXTS);
    EXPECT_EQ(H264VideoInputPeer::menuData(w),
              QStringList({QStringLiteral("A"), QStringLiteral("_taskMgr"), QStringLiteral("b")}) + FIXED_DATA);

    // Shift, A, B: the Shift bit with B only.
    EXPECT_EQ(choose(d, QStringLiteral("b")), (std::vector<bytes>{kb({2, 0, 0x05}), kb({0})}));
    // Control, F4.
    EXPECT_EQ(choose(d, QStringLiteral("A")), (std::vector<bytes>{kb({1, 0, 0x3D}), kb({0})}));
    // The built-ins.
    EXPECT_EQ(choose(d, QStringLiteral("_printscreen")), (std::vector<bytes>{kb({0, 0, 0x46}), kb({0})}));
    const std::vector<bytes> ctrlAltDel{kb({5, 0, 0x4C}), kb({0})};
    EXPECT_EQ(choose(d, QStringLiteral("_taskMgr")), ctrlAltDel);
    // The stored "_taskMgr" (F1) acts as the built-in: the first entry with that
    // data is the stored one, listed above the fixed entries.
    QAction* stored = H264VideoInputPeer::keyMenu(w)->actions().at(1);
    ASSERT_EQ(stored->text(), QStringLiteral("_taskMgr"));
    size_t mark = d.km_count();
    stored->trigger();
    ASSERT_TRUE(d.wait_km_count(mark, CMD_KM_KEYBOARD, 2));
    EXPECT_EQ(d.km_since(mark, CMD_KM_KEYBOARD)[0].body, ctrlAltDel[0]);

    // An entry whose name has gone from the map: two empty reports.
    QAction gone(QStringLiteral("gone"));
    gone.setData(QStringLiteral("gone"));
    mark = d.km_count();
    w.onToolbarMenu(&gone);
    ASSERT_TRUE(d.wait_km_count(mark, CMD_KM_KEYBOARD, 2));
    const auto sent = d.km_since(mark, CMD_KM_KEYBOARD);
    EXPECT_EQ(sent[0].body, kb({0}));
    EXPECT_EQ(sent[1].body, kb({0}));
}

TEST_F(KeyMenu, SetKeyOpensTheDialogOnTheMapAndUpdatesAreSavedAndShown)
{
    write_key_file(KEY_FILE);
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(ready(d));
    sysKeyConfig* dialog = H264VideoInputPeer::keyDialog(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isVisible());

    // "Set Key" sends no keys (the dialog taking the focus may let all keys go):
    // the next chord is the first report with a key in it.
    const size_t mark = d.km_count();
    H264VideoInputPeer::menuEntry(w, QStringLiteral("_setshortkey"))->trigger();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->keyMap(), H264VideoInputPeer::keyMap(w));
    EXPECT_EQ(dialog->ui.listWidget->count(), 3);  // A, _taskMgr, b
    H264VideoInputPeer::menuEntry(w, QStringLiteral("_printscreen"))->trigger();
    ASSERT_GE(d.wait_km_body(mark, kb({0, 0, 0x46})), 0);
    for (const auto& m : d.km_since(mark, CMD_KM_KEYBOARD)) {
        if (m.body != kb({0})) {
            EXPECT_EQ(m.body, kb({0, 0, 0x46}));
            break;
        }
    }

    // The dialog's edited map: saved (outside "common" kept) and in the menu at
    // once; the menu's old entries do not pile up on the window.
    const int actionsBefore = int(w.findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly).size());
    SysKeyMap map = H264VideoInputPeer::keyMap(w);
    map.remove(QStringLiteral("b"));
    map.insert(QStringLiteral("Zoom"), {SYSTEMKEYINFO{QStringLiteral("Control"), Qt::Key_Control},
                                        SYSTEMKEYINFO{QStringLiteral("+"), Qt::Key_Plus}});
    for (int i = 0; i < 3; ++i)
        emit dialog->updateSysKeyMap(map);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(H264VideoInputPeer::menuTexts(w),
              QStringList({QStringLiteral("A"), QStringLiteral("Zoom"), QStringLiteral("_taskMgr")}) + FIXED_TEXTS);
    EXPECT_EQ(int(w.findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly).size()), actionsBefore);

    SysKeyMap saved;
    c_key_file file(key_file_path());
    ASSERT_TRUE(file.load(saved));
    EXPECT_EQ(saved, map);
    QFile f(key_file_path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("<other keep=\"1\"/>"));

    EXPECT_EQ(choose(d, QStringLiteral("Zoom")), (std::vector<bytes>{kb({1, 0, 0x57}), kb({0})}));
}

TEST_F(KeyMenu, AKeyboardModeChosenOnAFreshCopyIsKeptForTheNextStart)
{
    // No config.xml, as on a fresh copy: the choice must still be kept, and
    // the next window's menu must show it.
    {
        devsim_window d(1);
        ASSERT_TRUE(d.started);
        ASSERT_TRUE(ready(d));
        QAction* byCharacter = H264VideoInputPeer::menuEntry(*d.window, QStringLiteral("_keysByCharacter"));
        ASSERT_NE(byCharacter, nullptr);
        byCharacter->trigger();
    }
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    ASSERT_TRUE(ready(d));
    QAction* byCharacter = H264VideoInputPeer::menuEntry(*d.window, QStringLiteral("_keysByCharacter"));
    QAction* byPosition = H264VideoInputPeer::menuEntry(*d.window, QStringLiteral("_keysByPosition"));
    ASSERT_TRUE(byCharacter && byPosition);
    EXPECT_TRUE(byCharacter->isChecked());
    EXPECT_FALSE(byPosition->isChecked());
}
