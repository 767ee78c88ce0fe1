#include "ui/ui_texts.h"

#include <QCoreApplication>

namespace {

UiTexts makeTexts()
{
    UiTexts t;
    t.videoSettingTitle = QCoreApplication::translate("UiTexts", "Video Setting");
    t.position = QCoreApplication::translate("UiTexts", "Position");
    t.up = QCoreApplication::translate("UiTexts", "Up");
    t.down = QCoreApplication::translate("UiTexts", "Down");
    t.left = QCoreApplication::translate("UiTexts", "Left");
    t.right = QCoreApplication::translate("UiTexts", "Right");
    t.reset = QCoreApplication::translate("UiTexts", "Reset");
    t.mouseSampleRate = QCoreApplication::translate("UiTexts", "Mouse Sample Rate");

    t.virtualMediaTitle = QCoreApplication::translate("UiTexts", "Virtual Media Setting");
    t.mapDrive = QCoreApplication::translate("UiTexts", "Map Drive");
    t.mapMode = QCoreApplication::translate("UiTexts", "Map Mode");
    t.readOnly = QCoreApplication::translate("UiTexts", "Read Only");
    t.map = QCoreApplication::translate("UiTexts", "Map");
    t.unmap = QCoreApplication::translate("UiTexts", "Unmap");
    t.progress = QCoreApplication::translate("UiTexts", "Progress");

    t.shotcutTitle = QCoreApplication::translate("UiTexts", "Shotcut Setting");
    t.mappingName = QCoreApplication::translate("UiTexts", "Mapping Name");
    t.keyString = QCoreApplication::translate("UiTexts", "Key String");
    t.add = QCoreApplication::translate("UiTexts", "Add");
    t.clear = QCoreApplication::translate("UiTexts", "Clear");
    t.modify = QCoreApplication::translate("UiTexts", "Modify");
    t.remove = QCoreApplication::translate("UiTexts", "Delete");
    return t;
}

}  // namespace

const UiTexts& ui_texts()
{
    static const UiTexts texts = makeTexts();
    return texts;
}
