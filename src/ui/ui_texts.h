#pragma once
// The fixed English interface texts of the dialogs. Each dialog's form sets
// its own (translatable) texts first; the dialog then shows these instead.
#include <QString>

struct UiTexts
{
    // Video settings dialog.
    QString videoSettingTitle;  // "Video Setting"
    QString position;           // "Position"
    QString up;                 // "Up"
    QString down;               // "Down"
    QString left;               // "Left"
    QString right;              // "Right"
    QString reset;              // "Reset"
    QString mouseSampleRate;    // "Mouse Sample Rate"

    // Virtual media dialog.
    QString virtualMediaTitle;  // "Virtual Media Setting"
    QString mapDrive;           // "Map Drive"
    QString mapMode;            // "Map Mode"
    QString readOnly;           // "Read Only"
    QString map;                // "Map"
    QString unmap;              // "Unmap"
    QString progress;           // "Progress"

    // Key setting dialog.
    QString shotcutTitle;       // "Shotcut Setting"
    QString mappingName;        // "Mapping Name"
    QString keyString;          // "Key String"
    QString add;                // "Add"
    QString clear;              // "Clear"
    QString modify;             // "Modify"
    QString remove;             // "Delete"
};

// The process-wide table, filled on first use.
const UiTexts& ui_texts();
