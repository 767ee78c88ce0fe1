#pragma once
// config.xml: the text of the root's first "mouseRate" child is the mouse
// sample rate. Saving the rate never creates the file or that element; saving
// a keyboard setting creates a missing file, rate included. Beside it,
// "keyboardMode" ("position" or "character") and "remoteLayout" (an XKB
// layout, "de(nodeadkeys)") hold the keyboard settings; older files without
// them load with the defaults.
#include <QString>
#include <tinyxml2.h>

struct c_input_settings
{
    bool keysByPosition = true;                  // live keys by physical position, not by character
    QString remoteLayout = QStringLiteral("us");  // the remote computer's layout, for pasted text
};

class c_config_file
{
public:
    explicit c_config_file(const QString& path);

    const QString& path() const { return m_path; }

    // Stores the file's rate in rate and returns true. Leaves rate alone and
    // returns false when the file does not load, has no root or no mouseRate,
    // or holds a rate that is not a positive number (a warning is logged).
    // A rate above MOUSE_RATE_READ_MAX (1000) is read as that; only the
    // dialog's slider keeps to 1..MOUSE_RATE_MAX.
    bool load(int32_t& rate);

    // Writes rate into the existing mouseRate element and saves the document
    // indented. False, writing nothing, when there is no file or no element.
    bool save(int32_t rate);

    // Reads the keyboard settings; what the file lacks keeps its value.
    // False when the file does not load.
    bool loadInput(c_input_settings& settings);

    // Writes the keyboard settings, adding their elements to the root when
    // missing. A missing file is created, with rate as its mouseRate. False,
    // writing nothing, when the file exists but does not load.
    bool saveInput(const c_input_settings& settings, int32_t rate);

private:
    tinyxml2::XMLElement* rateElement();
    tinyxml2::XMLElement* childElement(const char* name, bool create);

    QString m_path;
    tinyxml2::XMLDocument m_doc;
};
