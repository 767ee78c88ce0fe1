#pragma once
// An in-process devsim on ports chosen by the system, with its events file,
// media image and frame keys in a temporary directory, plus readers of the
// events file.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "c_devsim.h"
#include "common/devsim_events.h"
#include "scripted_client.h"

class DevsimTest : public ::testing::Test
{
public:
    // Fixed keys so that a failure is reproducible.
    static constexpr std::array<uint8_t, 8> k_encode{0x13, 0x57, 0x9B, 0xDF, 0x02, 0x46, 0x8A, 0xCE};
    static constexpr std::array<uint8_t, 8> k_decode{0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87};

protected:
    c_devsim_options defaults()
    {
        c_devsim_options o;
        o.portVideo = o.portKM = o.portMedia = o.portControl = 0;
        o.desEncode = k_encode;
        o.desDecode = k_decode;
        o.width = 320;
        o.height = 240;
        o.userID = 42;
        o.dogID = 2;
        o.eventsFile = m_dir.filePath(QStringLiteral("events.jsonl"));
        o.eventsHexMax = 0;
        o.mediaOut = m_dir.filePath(QStringLiteral("media.img"));
        o.readStdin = false;
        return o;
    }

    void start(const c_devsim_options& o)
    {
        m_opt = o;
        m_dev = std::make_unique<c_devsim>(o);
        QString error;
        ASSERT_TRUE(m_dev->start(&error)) << error.toStdString();
    }

    // The device goes before anything a derived fixture holds (an X server).
    void TearDown() override { m_dev.reset(); }

    // Every line of the events file so far.
    std::vector<QJsonObject> events() const
    {
        return read_devsim_events(m_opt.eventsFile);
    }

    // Received messages of one channel and type.
    std::vector<QJsonObject> received(const char* channel, int type) const
    {
        std::vector<QJsonObject> out;
        for (const QJsonObject& o : events())
            if (o.value(QStringLiteral("event")).toString() == QLatin1String("recv") &&
                o.value(QStringLiteral("channel")).toString() == QLatin1String(channel) &&
                o.value(QStringLiteral("type")).toInt() == type)
                out.push_back(o);
        return out;
    }

    bool has_event(const char* channel, const char* event) const
    {
        for (const QJsonObject& o : events())
            if (o.value(QStringLiteral("event")).toString() == QLatin1String(event) &&
                o.value(QStringLiteral("channel")).toString() == QLatin1String(channel))
                return true;
        return false;
    }

    QTemporaryDir m_dir;
    c_devsim_options m_opt;
    std::unique_ptr<c_devsim> m_dev;
};
