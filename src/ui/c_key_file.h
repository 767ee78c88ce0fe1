#pragma once
// key.xml: the stored key sequences. Only the root's first "common" element is
// ours; everything else in the document is kept as it was when saving.
#include <QString>
#include <tinyxml2.h>

#include "ui/sys_key_info.h"

class c_key_file
{
public:
    explicit c_key_file(const QString& path);

    const QString& path() const { return m_path; }

    // Replaces map with the file's sequences. False, with map untouched, when
    // the file cannot be loaded; false with an empty map when the document has
    // no root or no "common".
    bool load(SysKeyMap& map);

    // Rewrites the children of "common" from map and saves the document
    // indented. Writes nothing, and returns false, when the file is missing,
    // does not parse or has no "common"; a missing file is never created.
    bool save(const SysKeyMap& map);

    // The two halves without file access.
    static bool readDocument(const tinyxml2::XMLDocument& doc, SysKeyMap& map);
    static bool writeDocument(tinyxml2::XMLDocument& doc, const SysKeyMap& map);

private:
    QString m_path;
    tinyxml2::XMLDocument m_doc;
};
