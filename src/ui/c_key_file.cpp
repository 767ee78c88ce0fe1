#include "ui/c_key_file.h"

#include <QFile>
#include <cstdlib>

#include "log/log.h"
#include "ui/xml_file.h"

namespace {

// Names and display texts are stored in the local 8-bit encoding.
QString fromFile(const char* text)
{
    return QString::fromLocal8Bit(text);
}

// The code is written signed but read unsigned, as a leading decimal number;
// text without one reads as 0. Out-of-range numbers keep their low 32 bits.
int32_t readKeyCode(const char* text)
{
    return static_cast<int32_t>(static_cast<uint32_t>(std::strtoull(text, nullptr, 10)));
}

}  // namespace

c_key_file::c_key_file(const QString& path) : m_path(path) {}

bool c_key_file::readDocument(const tinyxml2::XMLDocument& doc, SysKeyMap& map)
{
    map.clear();
    const tinyxml2::XMLElement* root = doc.FirstChildElement();
    if (!root)
        return false;
    const tinyxml2::XMLElement* common = root->FirstChildElement("common");
    if (!common)
        return false;

    // Element names below "common" are not checked; entries lacking their
    // attributes are skipped so that a hand-edited file loads what it can.
    for (const tinyxml2::XMLElement* k = common->FirstChildElement(); k; k = k->NextSiblingElement()) {
        const char* name = k->Attribute("name");
        if (!name)
            continue;
        std::vector<SYSTEMKEYINFO> keys;
        for (const tinyxml2::XMLElement* e = k->FirstChildElement(); e; e = e->NextSiblingElement()) {
            const char* str = e->Attribute("str");
            const char* value = e->Attribute("value");
            if (!str || !value)
                continue;
            keys.push_back(SYSTEMKEYINFO{fromFile(str), readKeyCode(value)});
        }
        map.insert(fromFile(name), keys);  // a later duplicate replaces an earlier one
    }
    return true;
}

bool c_key_file::writeDocument(tinyxml2::XMLDocument& doc, const SysKeyMap& map)
{
    tinyxml2::XMLElement* root = doc.FirstChildElement();
    if (!root)
        return false;
    tinyxml2::XMLElement* common = root->FirstChildElement("common");
    if (!common)
        return false;

    common->DeleteChildren();
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        tinyxml2::XMLElement* key = doc.NewElement("key");
        key->SetAttribute("name", it.key().toLocal8Bit().constData());
        for (const SYSTEMKEYINFO& info : it.value()) {
            tinyxml2::XMLElement* kv = doc.NewElement("keyValue");
            kv->SetAttribute("value", info.value);
            kv->SetAttribute("str", info.str.toLocal8Bit().constData());
            key->InsertEndChild(kv);
        }
        common->InsertEndChild(key);
    }
    return true;
}

bool c_key_file::load(SysKeyMap& map)
{
    if (m_doc.LoadFile(QFile::encodeName(m_path).constData()) != tinyxml2::XML_SUCCESS)
        return false;
    return readDocument(m_doc, map);
}

bool c_key_file::save(const SysKeyMap& map)
{
    LOG_INFO("save system key info:%s", m_path.toLocal8Bit().constData());
    const QByteArray file = QFile::encodeName(m_path);
    if (m_doc.LoadFile(file.constData()) != tinyxml2::XML_SUCCESS)
        return false;
    if (!writeDocument(m_doc, map))
        return false;
    if (!xml_save_indented(m_doc, m_path)) {
        LOG_ERROR("save system key info failed:%s", m_path.toLocal8Bit().constData());
        return false;
    }
    return true;
}
