#include "c_devsim_control.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "c_devsim.h"
#include "c_devsim_faults.h"
#include "c_devsim_km.h"
#include "c_devsim_media.h"
#include "c_devsim_video.h"

c_devsim_control::c_devsim_control(c_devsim& dev) : m_dev(dev) {}

c_devsim_control::~c_devsim_control()
{
    stop();
}

bool c_devsim_control::listen(uint16_t port)
{
    return m_listener.listen(port);
}

void c_devsim_control::start()
{
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void c_devsim_control::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    std::list<std::thread> clients;
    {
        std::lock_guard<std::mutex> lk(m_clientsLock);
        clients.swap(m_clients);
    }
    for (auto& t : clients)
        t.join();
    m_listener.close();
}

void c_devsim_control::run()
{
    while (!m_stop) {
        const int fd = m_listener.accept(100);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lk(m_clientsLock);
        m_clients.emplace_back([this, fd] { serve(fd); });
    }
}

void c_devsim_control::serve(int fd)
{
    QByteArray pending;
    char buf[1024];
    while (!m_stop) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, 100);
        if (r < 0)
            break;
        if (r == 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        pending.append(buf, int(n));
        if (pending.size() > 65536)
            break;  // no line that long is a command
        int nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(nl)).trimmed();
            pending.remove(0, nl + 1);
            if (line.isEmpty())
                continue;
            const QByteArray reply = execute(line).toUtf8() + '\n';
            if (::send(fd, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL) != reply.size())
                break;
        }
    }
    ::close(fd);
}

QString c_devsim_control::help()
{
    return QStringLiteral("ok commands: privilege 0|1 | giveup | grab V (0 granted) | led BITS (1 Num, 2 Caps, "
                          "4 Scroll) | read START COUNT | write START FILE | refuse-next-read | "
                          "close video|km|media|all | refuse MS [video|km|media|all] | stall km|media | unstall km|media | "
                          "km-delay MS | status | help | quit | ") +
           c_devsim_faults::usage();
}

QString c_devsim_control::execute(const QString& line)
{
    const QStringList w = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return QStringLiteral("error empty command");
    const QString cmd = w[0].toLower();
    auto num = [&](int i, long long lo, long long hi, long long* out) {
        if (i >= w.size())
            return false;
        bool ok = false;
        const long long v = w[i].toLongLong(&ok, 0);
        if (!ok || v < lo || v > hi)
            return false;
        *out = v;
        return true;
    };
    auto sent = [](bool ok) { return ok ? QStringLiteral(" sent") : QStringLiteral(" (no viewer: not sent)"); };
    long long a = 0, b = 0;
    QString err;
    // Commands that change nothing stay out of the events file (scripts poll status).
    if (cmd != QLatin1String("status") && cmd != QLatin1String("help"))
        m_dev.events().note("control", "command", {{QStringLiteral("line"), line}});

    if (cmd == QLatin1String("privilege")) {
        if (!num(1, 0, 1, &a) || w.size() != 2)
            return QStringLiteral("error usage: privilege 0|1");
        return QStringLiteral("ok privilege %1").arg(a) + sent(m_dev.km().send_privilege(int(a)));
    }
    if (cmd == QLatin1String("giveup")) {
        return QStringLiteral("ok giveup") + sent(m_dev.km().send_giveup());
    }
    if (cmd == QLatin1String("grab")) {
        if (!num(1, 0, 255, &a) || w.size() != 2)
            return QStringLiteral("error usage: grab V (0 granted, other refused)");
        return QStringLiteral("ok grab %1").arg(a) + sent(m_dev.km().send_grab_result(int(a)));
    }
    if (cmd == QLatin1String("led")) {
        if (!num(1, 0, 7, &a) || w.size() != 2)
            return QStringLiteral("error usage: led BITS (0..7: 1 Num, 2 Caps, 4 Scroll)");
        m_dev.set_leds(uint8_t(a), true);
        return QStringLiteral("ok led %1").arg(a) + sent(m_dev.video().connected());
    }
    if (cmd == QLatin1String("read")) {
        if (!num(1, 0, 0xFFFFFFFFLL, &a) || !num(2, 1, 0xFFFFFFFFLL, &b) || w.size() != 3)
            return QStringLiteral("error usage: read START COUNT");
        if (!m_dev.media().queue_read(uint32_t(a), uint32_t(b), &err))
            return QStringLiteral("error ") + err;
        return QStringLiteral("ok read %1 %2 queued").arg(a).arg(b);
    }
    if (cmd == QLatin1String("write")) {
        if (!num(1, 0, 0xFFFFFFFFLL, &a) || w.size() < 3)
            return QStringLiteral("error usage: write START FILE");
        // The file name is the rest of the line (it may hold blanks).
        const QString file =
            QRegularExpression(QStringLiteral("^\\s*\\S+\\s+\\S+\\s+(.*)$")).match(line).captured(1).trimmed();
        if (!m_dev.media().queue_write(uint32_t(a), file, &err))
            return QStringLiteral("error ") + err;
        return QStringLiteral("ok write %1 %2 queued").arg(a).arg(file);
    }
    if (cmd == QLatin1String("refuse-next-read")) {
        m_dev.media().refuse_next_read();
        return QStringLiteral("ok the next read data is refused");
    }
    if (cmd == QLatin1String("close")) {
        if (w.size() != 2)
            return QStringLiteral("error usage: close video|km|media|all");
        const QString ch = w[1].toLower();
        bool ok = false;
        if (ch == QLatin1String("video") || ch == QLatin1String("all"))
            ok = m_dev.video().drop() || ok;
        if (ch == QLatin1String("km") || ch == QLatin1String("all"))
            ok = m_dev.km().drop() || ok;
        if (ch == QLatin1String("media") || ch == QLatin1String("all"))
            ok = m_dev.media().drop() || ok;
        if (ch != QLatin1String("video") && ch != QLatin1String("km") && ch != QLatin1String("media") &&
            ch != QLatin1String("all"))
            return QStringLiteral("error usage: close video|km|media|all");
        return ok ? QStringLiteral("ok closed %1").arg(ch) : QStringLiteral("ok %1 had no viewer").arg(ch);
    }
    if ((cmd == QLatin1String("stall") || cmd == QLatin1String("unstall")) && w.size() == 2 &&
        w[1].toLower() == QLatin1String("media")) {
        m_dev.media().set_read_stalled(cmd == QLatin1String("stall"));
        return cmd == QLatin1String("stall") ? QStringLiteral("ok media reads nothing")
                                             : QStringLiteral("ok media reads again");
    }
    if (cmd == QLatin1String("refuse")) {
        if (!num(1, 1, 600000, &a) || w.size() < 2 || w.size() > 3)
            return QStringLiteral("error usage: refuse MS [video|km|media|all]");
        const QString ch = w.size() == 3 ? w[2].toLower() : QStringLiteral("all");
        const bool all = ch == QLatin1String("all");
        if (!all && ch != QLatin1String("video") && ch != QLatin1String("km") && ch != QLatin1String("media"))
            return QStringLiteral("error usage: refuse MS [video|km|media|all]");
        if (all || ch == QLatin1String("video"))
            m_dev.video().refuse_for(int(a));
        if (all || ch == QLatin1String("km"))
            m_dev.km().refuse_for(int(a));
        if (all || ch == QLatin1String("media"))
            m_dev.media().refuse_for(int(a));
        return QStringLiteral("ok %1 closed and refused for %2 ms").arg(ch).arg(a);
    }
    if (cmd == QLatin1String("stall") || cmd == QLatin1String("unstall")) {
        if (w.size() != 2 || w[1].toLower() != QLatin1String("km"))
            return QStringLiteral("error usage: %1 km|media").arg(cmd);
        m_dev.km().set_answer(cmd == QLatin1String("unstall"));
        return cmd == QLatin1String("stall") ? QStringLiteral("ok km answers nothing")
                                             : QStringLiteral("ok km answers again");
    }
    if (cmd == QLatin1String("fault")) {
        c_devsim_faults faults(m_dev);
        return faults.command(w.mid(1));
    }
    if (cmd == QLatin1String("km-delay")) {
        if (!num(1, 0, 600000, &a) || w.size() != 2)
            return QStringLiteral("error usage: km-delay MS");
        m_dev.km().set_delay(int(a));
        return QStringLiteral("ok km answers after %1 ms").arg(a);
    }
    if (cmd == QLatin1String("status")) {
        const c_devsim_media::status_t m = m_dev.media().status();
        const QPoint p = m_dev.pointer();
        const QPoint off = m_dev.picture_offset();
        QJsonObject o{
            {QStringLiteral("video"), m_dev.video().connected()},
            {QStringLiteral("km"), m_dev.km().connected()},
            {QStringLiteral("media"), m_dev.media().connected()},
            {QStringLiteral("pictures"), qint64(m_dev.video().pictures_sent())},
            {QStringLiteral("kmReceived"), qint64(m_dev.km().received())},
            {QStringLiteral("kmAnswering"), m_dev.km().answering()},
            {QStringLiteral("privilege"), m_dev.privilege()},
            {QStringLiteral("leds"), int(m_dev.leds())},
            {QStringLiteral("pointer"), QStringLiteral("%1,%2").arg(p.x()).arg(p.y())},
            {QStringLiteral("buttons"), m_dev.buttons()},
            {QStringLiteral("offset"), QStringLiteral("%1,%2").arg(off.x()).arg(off.y())},
            {QStringLiteral("typed"), m_dev.typed()},
            {QStringLiteral("mapped"), m.mapped},
            {QStringLiteral("sectors"), qint64(m.sectors)},
            {QStringLiteral("sectorsRead"), qint64(m.sectorsRead)},
            {QStringLiteral("sectorsWritten"), qint64(m.sectorsWritten)},
            {QStringLiteral("wholeDiskRead"), m.wholeDiskDone},
            {QStringLiteral("mediaJobs"), m.jobs},
            {QStringLiteral("image"), m.image},
        };
        return QStringLiteral("ok ") + QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    }
    if (cmd == QLatin1String("help")) {
        return help();
    }
    if (cmd == QLatin1String("quit") || cmd == QLatin1String("exit")) {
        m_dev.request_quit();
        return QStringLiteral("ok bye");
    }
    return QStringLiteral("error unknown command \"%1\" (try help)").arg(w[0]);
}
