#include "ui/xml_file.h"

#include "tools/files/safe_file.h"

bool xml_render_indented(const tinyxml2::XMLDocument& doc, QByteArray& text)
{
    tinyxml2::XMLPrinter printer(nullptr, false);
    doc.Print(&printer);
    tinyxml2::XMLDocument check;
    if (check.Parse(printer.CStr(), static_cast<size_t>(printer.CStrSize() - 1)) != tinyxml2::XML_SUCCESS)
        return false;
    text = QByteArray(printer.CStr(), printer.CStrSize() - 1);
    return true;
}

bool xml_save_indented(const tinyxml2::XMLDocument& doc, const QString& path)
{
    QByteArray text;
    if (!xml_render_indented(doc, text))
        return false;
    return safe_file::replace(path, text);
}
