// Key setting dialog: key capture into names and codes, and the editing
// buttons with their row and name bookkeeping.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <vector>

#include "ui/sysKeyConfig.h"

namespace {

using Keys = std::vector<SYSTEMKEYINFO>;

class SysKeyConfigDlg : public ::testing::Test
{
protected:
    SysKeyConfigDlg()
    {
        QObject::connect(&dlg, &sysKeyConfig::updateSysKeyMap, [this](SysKeyMap& map) {
            emitted.push_back(map);
            nameAtEmit.push_back(dlg.currentName());
        });
    }

    // A key press into the capture field; returns whether the field's own
    // handling was skipped.
    bool press(int key, const QString& text = QString(), bool autoRepeat = false,
               Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QKeyEvent e(QEvent::KeyPress, key, mods, text, autoRepeat);
        QApplication::sendEvent(dlg.ui.lineEdit_keyString, &e);
        QKeyEvent r(QEvent::KeyRelease, key, mods, text, autoRepeat);
        QApplication::sendEvent(dlg.ui.lineEdit_keyString, &r);
        return e.isAccepted();
    }

    void showAndWait()
    {
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    }

    void clickRow(int row)
    {
        QListWidgetItem* item = dlg.ui.listWidget->item(row);
        ASSERT_NE(item, nullptr);
        const QRect r = dlg.ui.listWidget->visualItemRect(item);
        QTest::mouseClick(dlg.ui.listWidget->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    }

    QStringList rows() const
    {
        QStringList out;
        for (int i = 0; i < dlg.ui.listWidget->count(); ++i)
            out << dlg.ui.listWidget->item(i)->text();
        return out;
    }

    sysKeyConfig dlg;
    std::vector<SysKeyMap> emitted;
    std::vector<QString> nameAtEmit;
};

const int kControl = 0x01000021;
const int kAlt = 0x01000023;
const int kF4 = 0x01000033;

}  // namespace

TEST_F(SysKeyConfigDlg, FormLayoutAndFixedTexts)
{
    EXPECT_EQ(dlg.objectName(), "sysKeyConfig");
    EXPECT_EQ(dlg.size(), QSize(488, 384));
    EXPECT_EQ(dlg.parent(), nullptr);
    EXPECT_EQ(dlg.windowTitle(), "Shotcut Setting");
    EXPECT_EQ(dlg.ui.label->text(), "Mapping Name:");
    EXPECT_EQ(dlg.ui.label_2->text(), "Key String:");
    EXPECT_EQ(dlg.ui.pb_add->text(), "Add");
    EXPECT_EQ(dlg.ui.pb_clear->text(), "Clear");
    EXPECT_EQ(dlg.ui.pb_modify->text(), "Modify");
    EXPECT_EQ(dlg.ui.pb_delete->text(), "Delete");
    EXPECT_EQ(dlg.ui.verticalLayout_2->spacing(), 6);
    EXPECT_EQ(dlg.ui.verticalLayout_2->contentsMargins(), QMargins(11, 11, 11, 11));
    EXPECT_EQ(dlg.ui.horizontalLayout->indexOf(dlg.ui.pb_delete), 3);
    for (const char* name : {"listWidget", "lineEdit_mappingName", "lineEdit_keyString", "pb_add", "gridLayout"})
        EXPECT_NE(dlg.findChild<QObject*>(name), nullptr) << name;
}

TEST_F(SysKeyConfigDlg, CaptureComposesNamesAndCodes)
{
    EXPECT_TRUE(press(Qt::Key_Control));
    EXPECT_TRUE(press(Qt::Key_F4));
    EXPECT_EQ(dlg.currentKeys(), (Keys{{"Control", kControl}, {"F4", kF4}}));
    EXPECT_EQ(dlg.ui.lineEdit_keyString->text(), "Control + F4");

    dlg.on_clear();
    EXPECT_EQ(dlg.ui.lineEdit_keyString->text(), "");
    press(Qt::Key_Escape, "\x1b");
    press(Qt::Key_Pause);
    press(Qt::Key_Left);
    press(Qt::Key_Delete, "\x7f");
    press(Qt::Key_Meta);
    press(Qt::Key_Return, "\r");
    press(Qt::Key_A, "a");
    EXPECT_EQ(dlg.ui.lineEdit_keyString->text(), "Esc + PAUSE +  + Delete + Win + Return + a");
    EXPECT_EQ(dlg.currentKeys()[2].value, 0x01000012);
    EXPECT_EQ(dlg.currentKeys()[6].value, 0x41);

    // Auto-repeated presses each add an entry; other events are not taken.
    dlg.on_clear();
    press(Qt::Key_B, "b");
    press(Qt::Key_B, "b", true);
    press(Qt::Key_B, "b", true);
    EXPECT_EQ(dlg.ui.lineEdit_keyString->text(), "b + b + b");
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_B, Qt::NoModifier, "b");
    QApplication::sendEvent(dlg.ui.lineEdit_keyString, &release);
    EXPECT_EQ(dlg.currentKeys().size(), 3u);
    // Keys typed into the name field are not captured.
    QTest::keyClick(dlg.ui.lineEdit_mappingName, Qt::Key_X);
    EXPECT_EQ(dlg.ui.lineEdit_mappingName->text(), "x");
    EXPECT_EQ(dlg.currentKeys().size(), 3u);
    EXPECT_TRUE(emitted.empty());
}

TEST_F(SysKeyConfigDlg, LoadListsNonEmptyNamesInMapOrderOnly)
{
    dlg.ui.lineEdit_mappingName->setText("typed");
    press(Qt::Key_Alt);
    SysKeyMap map;
    map.insert("b", {});
    map.insert("", {{"Tab", 0x01000001}});
    map.insert("A", {{"Alt", kAlt}});
    dlg.loadKeyMap(map);
    EXPECT_EQ(rows(), (QStringList{"A", "b"}));
    EXPECT_EQ(dlg.keyMap(), map);
    EXPECT_EQ(dlg.ui.lineEdit_mappingName->text(), "typed");
    EXPECT_EQ(dlg.currentKeys(), (Keys{{"Alt", kAlt}}));
    dlg.loadKeyMap(map);
    EXPECT_EQ(rows().size(), 2);
    EXPECT_TRUE(emitted.empty());
}

TEST_F(SysKeyConfigDlg, AddWithAnExistingNameReplacesKeysAndAddsARow)
{
    SysKeyMap map;
    map.insert("task", {{"Alt", kAlt}});
    dlg.loadKeyMap(map);
    dlg.ui.lineEdit_mappingName->setText("task");
    press(Qt::Key_Control);
    press(Qt::Key_F4);
    QTest::mouseClick(dlg.ui.pb_add, Qt::LeftButton);
    EXPECT_EQ(rows(), (QStringList{"task", "task"}));
    ASSERT_EQ(emitted.size(), 1u);
    EXPECT_EQ(emitted[0].value("task"), (Keys{{"Control", kControl}, {"F4", kF4}}));
    EXPECT_EQ(emitted[0].size(), 1);
}

TEST_F(SysKeyConfigDlg, ClearThenAddStoresAnEmptySequence)
{
    press(Qt::Key_Control);
    dlg.ui.lineEdit_mappingName->setText("empty");
    QTest::mouseClick(dlg.ui.pb_clear, Qt::LeftButton);
    EXPECT_TRUE(emitted.empty());
    QTest::mouseClick(dlg.ui.pb_add, Qt::LeftButton);
    ASSERT_EQ(emitted.size(), 1u);
    EXPECT_TRUE(emitted[0].contains("empty"));
    EXPECT_TRUE(emitted[0].value("empty").empty());
}

TEST_F(SysKeyConfigDlg, ModifyMovesTheEntryWhileTheRowKeepsItsText)
{
    SysKeyMap map;
    map.insert("old", {{"Alt", kAlt}, {"F4", kF4}});
    map.insert("other", {{"Control", kControl}});
    dlg.loadKeyMap(map);
    showAndWait();
    clickRow(0);
    EXPECT_EQ(dlg.currentName(), "old");
    EXPECT_EQ(dlg.ui.lineEdit_mappingName->text(), "old");
    EXPECT_EQ(dlg.ui.lineEdit_keyString->text(), "Alt + F4");

    dlg.ui.lineEdit_mappingName->setText("new");
    QTest::mouseClick(dlg.ui.pb_modify, Qt::LeftButton);
    ASSERT_EQ(emitted.size(), 1u);
    EXPECT_EQ(emitted[0].keys(), (QStringList{"new", "other"}));
    EXPECT_EQ(emitted[0].value("new"), (Keys{{"Alt", kAlt}, {"F4", kF4}}));
    EXPECT_EQ(rows(), (QStringList{"old", "other"}));
}

TEST_F(SysKeyConfigDlg, DeleteNeedsALoadedEntryAndIgnoresTheNameField)
{
    SysKeyMap map;
    map.insert("a", {{"A", 0x41}});
    map.insert("b", {{"B", 0x42}});
    dlg.loadKeyMap(map);
    showAndWait();

    // No row ever selected: nothing happens.
    dlg.ui.lineEdit_mappingName->setText("a");
    QTest::mouseClick(dlg.ui.pb_delete, Qt::LeftButton);
    EXPECT_TRUE(emitted.empty());
    EXPECT_EQ(rows().size(), 2);

    clickRow(0);
    dlg.ui.lineEdit_mappingName->setText("b");
    QTest::mouseClick(dlg.ui.pb_delete, Qt::LeftButton);
    ASSERT_EQ(emitted.size(), 1u);
    EXPECT_EQ(emitted[0].keys(), QStringList{"b"});
    EXPECT_EQ(rows(), QStringList{"b"});
    // The row that became current was loaded before the map went out.
    EXPECT_EQ(nameAtEmit[0], "b");
    EXPECT_EQ(dlg.ui.lineEdit_keyString->text(), "B");
}

TEST_F(SysKeyConfigDlg, ClickingTheCurrentRowShowsStoredKeysButKeepsTheComposedOnes)
{
    SysKeyMap map;
    map.insert("seq", {{"Alt", kAlt}});
    dlg.loadKeyMap(map);
    showAndWait();
    clickRow(0);
    EXPECT_EQ(dlg.currentKeys(), (Keys{{"Alt", kAlt}}));
    dlg.on_clear();
    press(Qt::Key_Control);
    clickRow(0);
    EXPECT_EQ(dlg.ui.lineEdit_keyString->text(), "Alt");
    EXPECT_EQ(dlg.currentKeys(), (Keys{{"Control", kControl}}));
    QTest::mouseClick(dlg.ui.pb_add, Qt::LeftButton);
    ASSERT_EQ(emitted.size(), 1u);
    EXPECT_EQ(emitted[0].value("seq"), (Keys{{"Control", kControl}}));
}
