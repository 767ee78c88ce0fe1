#include "ui/c_config_file.h"

#include <QFile>
#include <algorithm>

#include "log/log.h"
#include "ui/mouse_rate.h"
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
    // Rates the slider does not offer are taken as written, up to the point
    // where the interval would drop to 0 ms and the sampling timer would take
    // a whole core.
    rate = std::min(value, MOUSE_RATE_READ_MAX);
    if (rate != value)
        LOG_WARN("config mouseRate %d above %d, using %d", value, MOUSE_RATE_READ_MAX, rate);
    return true;
}

tinyxml2::XMLElement* c_config_file::childElement(const char* name, bool create)
{
    tinyxml2::XMLElement* root = m_doc.FirstChildElement();
    if (!root)
        return nullptr;
    tinyxml2::XMLElement* e = root->FirstChildElement(name);
    if (!e && create)
        e = root->InsertNewChildElement(name);
    return e;
}

bool c_config_file::loadInput(c_input_settings& settings)
{
    if (m_doc.LoadFile(QFile::encodeName(m_path).constData()) != tinyxml2::XML_SUCCESS)
        return false;
    if (const tinyxml2::XMLElement* mode = childElement("keyboardMode", false)) {
        const QString text = QString::fromUtf8(mode->GetText() ? mode->GetText() : "").trimmed();
        if (text == QLatin1String("position"))
            settings.keysByPosition = true;
        else if (text == QLatin1String("character"))
            settings.keysByPosition = false;
        else
            LOG_WARN("config keyboardMode \"%s\" unknown, keeping %s", text.toUtf8().constData(),
                     settings.keysByPosition ? "position" : "character");
    }
    if (const tinyxml2::XMLElement* layout = childElement("remoteLayout", false)) {
        const QString text = QString::fromUtf8(layout->GetText() ? layout->GetText() : "").trimmed();
        if (!text.isEmpty())
            settings.remoteLayout = text;
    }
    return true;
}

bool c_config_file::saveInput(const c_input_settings& settings, int32_t rate)
{
    const tinyxml2::XMLError loaded = m_doc.LoadFile(QFile::encodeName(m_path).constData());
    if (loaded == tinyxml2::XML_ERROR_FILE_NOT_FOUND) {
        // A fresh copy: the user's choice is kept in a new file, which also
        // holds the rate in force so the file reads like any other.
        m_doc.Clear();
        tinyxml2::XMLElement* root = m_doc.NewElement("config");
        m_doc.InsertEndChild(root);
        root->InsertNewChildElement("mouseRate")->SetText(QString::number(rate).toUtf8().constData());
        LOG_INFO("creating config file %s", m_path.toLocal8Bit().constData());
    } else if (loaded != tinyxml2::XML_SUCCESS) {
        // Never replace a file the user may still want to mend.
        return false;
    }
    tinyxml2::XMLElement* mode = childElement("keyboardMode", true);
    tinyxml2::XMLElement* layout = childElement("remoteLayout", true);
    if (!mode || !layout)
        return false;
    mode->SetText(settings.keysByPosition ? "position" : "character");
    layout->SetText(settings.remoteLayout.toUtf8().constData());
    if (!xml_save_indented(m_doc, m_path)) {
        LOG_ERROR("save config info failed:%s", m_path.toLocal8Bit().constData());
        return false;
    }
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
