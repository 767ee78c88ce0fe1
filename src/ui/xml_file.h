#pragma once
// Saving an XML settings document safely.
#include <QByteArray>
#include <QString>
#include <tinyxml2.h>

// The document printed indented (four spaces per level). False when the text
// would not parse again: tinyxml2 accepts some malformed input that it then
// prints in a form it refuses, and such a file would be lost at the next start.
bool xml_render_indented(const tinyxml2::XMLDocument& doc, QByteArray& text);

// Renders doc and replaces the file at path with it in one step, so an
// interrupted write never leaves a truncated file behind.
bool xml_save_indented(const tinyxml2::XMLDocument& doc, const QString& path);
