// Feeds arbitrary bytes to the key file reader and writer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ui/c_key_file.h"

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
    tinyxml2::XMLPrinter printer;
    doc.Print(&printer);
    tinyxml2::XMLDocument again;
    SysKeyMap reread;
    if (again.Parse(printer.CStr()) != tinyxml2::XML_SUCCESS || !c_key_file::readDocument(again, reread))
        abort();
    return 0;
}
