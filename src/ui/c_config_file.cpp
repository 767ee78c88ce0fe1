#include "ui/c_config_file.h"

#include <QFile>

#include "log/log.h"
#include "ui/xml_file.h"

c_config_file::c_config_file(const QString& path) : m_path(path) {}

tinyxml2::XMLElement* c_config_file::rateElement()
{
    tinyxml2::XMLElement* root = m_doc.FirstChildElement();
    return root ? root->FirstChildElement("mouseRate") : nullptr;
}

bool c_config_file::load(int32_t& rate)
{
    LOG_INFO("get config info:%s", m_path.toLocal8Bit().constData());
    if (m_doc.LoadFile(QFile::encodeName(m_path).constData()) != tinyxml2::XML_SUCCESS)
        return false;
    const tinyxml2::XMLElement* element = rateElement();
    if (!element)
        return false;

    const char* text = element->GetText();
    const int32_t value = text ? QString::fromUtf8(text).trimmed().toInt(nullptr, 10) : 0;
    // A rate of 0 or below would make the sampling interval meaningless.
    if (value <= 0) {
        LOG_WARN("config mouseRate %d ignored, keeping %d", value, rate);
        return false;
    }
    rate = value;
    return true;
}

bool c_config_file::save(int32_t rate)
{
    LOG_INFO("save config info:%s", m_path.toLocal8Bit().constData());
    const QByteArray file = QFile::encodeName(m_path);
    if (m_doc.LoadFile(file.constData()) != tinyxml2::XML_SUCCESS)
        return false;
    tinyxml2::XMLElement* element = rateElement();
    if (!element)
        return false;
    element->SetText(QString::number(rate).toUtf8().constData());
    if (!xml_save_indented(m_doc, m_path)) {
        LOG_ERROR("save config info failed:%s", m_path.toLocal8Bit().constData());
        return false;
    }
    return true;
}
