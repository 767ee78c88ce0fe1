#pragma once
// config.xml: the text of the root's first "mouseRate" child is the mouse
// sample rate. The file and the element are never created here.
#include <QString>
#include <tinyxml2.h>

class c_config_file
{
public:
    explicit c_config_file(const QString& path);

    const QString& path() const { return m_path; }

    // Stores the file's rate in rate and returns true. Leaves rate alone and
    // returns false when the file does not load, has no root or no mouseRate,
    // or holds a rate that is not a positive number (a warning is logged).
    bool load(int32_t& rate);

    // Writes rate into the existing mouseRate element and saves the document
    // indented. False, writing nothing, when there is no file or no element.
    bool save(int32_t rate);

private:
    tinyxml2::XMLElement* rateElement();

    QString m_path;
    tinyxml2::XMLDocument m_doc;
};
