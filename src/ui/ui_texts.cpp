#include "ui/ui_texts.h"

namespace {

UiTexts makeTexts()
{
    UiTexts t;
    t.videoSettingTitle = QStringLiteral("Video Setting");
    t.position = QStringLiteral("Position");
    t.up = QStringLiteral("Up");
    t.down = QStringLiteral("Down");
    t.left = QStringLiteral("Left");
    t.right = QStringLiteral("Right");
    t.reset = QStringLiteral("Reset");
    t.mouseSampleRate = QStringLiteral("Mouse Sample Rate");

    t.virtualMediaTitle = QStringLiteral("Virtual Media Setting");
    t.mapDrive = QStringLiteral("Map Drive");
    t.mapMode = QStringLiteral("Map Mode");
    t.readOnly = QStringLiteral("Read Only");
    t.map = QStringLiteral("Map");
    t.unmap = QStringLiteral("Unmap");
    t.progress = QStringLiteral("Progress");

    t.shotcutTitle = QStringLiteral("Shotcut Setting");
    t.mappingName = QStringLiteral("Mapping Name");
    t.keyString = QStringLiteral("Key String");
    t.add = QStringLiteral("Add");
    t.clear = QStringLiteral("Clear");
    t.modify = QStringLiteral("Modify");
    t.remove = QStringLiteral("Delete");
    return t;
}

}  // namespace

const UiTexts& ui_texts()
{
    static const UiTexts texts = makeTexts();
    return texts;
}
