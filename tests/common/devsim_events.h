#pragma once
// devsim's events file: one JSON object per line, flushed as written.
#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <vector>

// Every complete line of the events file so far (a line still being written is left out).
inline std::vector<QJsonObject> read_devsim_events(const QString& path)
{
    std::vector<QJsonObject> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    QByteArray all = f.readAll();
    const int end = all.lastIndexOf('\n');
    all.truncate(end < 0 ? 0 : end);
    for (const QByteArray& line : all.split('\n'))
        if (!line.isEmpty())
            out.push_back(QJsonDocument::fromJson(line).object());
    return out;
}

// The KM messages devsim received under one name ("mouse-abs", "keyboard", ...), in order.
inline std::vector<QJsonObject> devsim_km_received(const QString& path, const char* name)
{
    std::vector<QJsonObject> out;
    for (const QJsonObject& e : read_devsim_events(path))
        if (e.value(QStringLiteral("channel")).toString() == QLatin1String("km") &&
            e.value(QStringLiteral("event")).toString() == QLatin1String("recv") &&
            e.value(QStringLiteral("fields")).toObject().value(QStringLiteral("name")).toString() ==
                QLatin1String(name))
            out.push_back(e);
    return out;
}
