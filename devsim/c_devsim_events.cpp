#include "c_devsim_events.h"

#include <QDateTime>
#include <QJsonDocument>

c_devsim_events::~c_devsim_events()
{
    close();
}

bool c_devsim_events::open(const QString& path, int hexMax)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_hexMax = hexMax;
    if (m_file) {
        fclose(m_file);
        m_file = nullptr;
    }
    if (path.isEmpty())
        return true;
    m_file = fopen(path.toLocal8Bit().constData(), "w");
    return m_file != nullptr;
}

void c_devsim_events::close()
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_file) {
        fclose(m_file);
        m_file = nullptr;
    }
}

void c_devsim_events::set_observer(observer fn)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_observer = std::move(fn);
}

QString c_devsim_events::hex(const uint8_t* bytes, uint32_t len, uint32_t max)
{
    const uint32_t n = (max && len > max) ? max : len;
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), int(n)).toHex());
}

bool c_devsim_events::wanted()
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_file || m_observer;
}

void c_devsim_events::message(const char* channel, const uint8_t* body, uint32_t len, const QJsonObject& fields)
{
    // Nobody reads the events: a media read would otherwise spend more time
    // on a hex dump per sector than on the sector.
    if (!wanted())
        return;
    QJsonObject o;
    o.insert(QStringLiteral("channel"), QString::fromLatin1(channel));
    o.insert(QStringLiteral("event"), QStringLiteral("recv"));
    o.insert(QStringLiteral("type"), len ? int(body[0]) : -1);
    o.insert(QStringLiteral("len"), qint64(len));
    o.insert(QStringLiteral("hex"), hex(body, len, uint32_t(m_hexMax)));
    if (m_hexMax && len > uint32_t(m_hexMax))
        o.insert(QStringLiteral("hex_cut"), true);
    o.insert(QStringLiteral("fields"), fields);
    write(o);
}

void c_devsim_events::note(const char* channel, const char* event, const QJsonObject& fields)
{
    QJsonObject o = fields;
    o.insert(QStringLiteral("channel"), QString::fromLatin1(channel));
    o.insert(QStringLiteral("event"), QString::fromLatin1(event));
    write(o);
}

void c_devsim_events::write(QJsonObject obj)
{
    obj.insert(QStringLiteral("t"), double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_file) {
        const QByteArray line = QJsonDocument(obj).toJson(QJsonDocument::Compact);
        fwrite(line.constData(), 1, size_t(line.size()), m_file);
        fputc('\n', m_file);
        fflush(m_file);
    }
    if (m_observer)
        m_observer(obj);
}
