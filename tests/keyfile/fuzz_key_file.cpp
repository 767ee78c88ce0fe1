// Feeds arbitrary bytes to the key file reader and writer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ui/c_key_file.h"
#include "ui/xml_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tinyxml2::XMLDocument doc;
    if (doc.Parse(reinterpret_cast<const char*>(data), size) != tinyxml2::XML_SUCCESS)
        return 0;
    SysKeyMap map;
    if (!c_key_file::readDocument(doc, map))
        return 0;
    if (!c_key_file::writeDocument(doc, map))
        abort();
    // Text that would not load again is never written; what is written must read back.
    QByteArray text;
    if (!xml_render_indented(doc, text))
        return 0;
    tinyxml2::XMLDocument again;
    SysKeyMap reread;
    if (again.Parse(text.constData(), static_cast<size_t>(text.size())) != tinyxml2::XML_SUCCESS ||
        !c_key_file::readDocument(again, reread) || reread.size() != map.size())
        abort();
    return 0;
}
