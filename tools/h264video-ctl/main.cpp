// h264video-ctl: drives a running viewer over the session bus, for shell
// scripts. One sub-command per call; exit 0 on success, otherwise a single
// line on standard error and a non-zero exit code.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

namespace {

const char* const SERVICE_PREFIX = "io.github.h264video.Viewer-";
const char* const OBJECT_PATH = "/io/github/h264video/Session";
const char* const INTERFACE = "io.github.h264video.Session1";

// Exit codes.
const int EXIT_REFUSED = 1;  // the viewer said no, or a wait ran out
const int EXIT_USAGE = 2;
const int EXIT_NO_VIEWER = 3;

const char* const USAGE =
    "Usage: h264video-ctl [--pid PID] COMMAND [ARGUMENTS]\n"
    "Drives a running H264Video viewer over the session bus.\n"
    "\n"
    "Commands:\n"
    "  status                         the session's state as JSON\n"
    "  type TEXT                      types TEXT through the remote keyboard layout\n"
    "  key CHORD...                   presses and releases each chord in turn\n"
    "                                 (ctrl+alt+Delete, F2, Return, shift+a)\n"
    "  keyseq NAME                    a stored key sequence of the key menu\n"
    "  mouse move X Y                 pointer to X,Y in remote pixels (absolute mode)\n"
    "  mouse click|press|release [left|right|middle]\n"
    "  mouse wheel STEPS              positive: away from the user\n"
    "  screenshot FILE.png            the remote picture at its own size\n"
    "  wait-stable MS [--timeout S]   until the picture has not changed for MS ms\n"
    "  wait-match REF.png [--region X,Y,W,H] [--tolerance T] [--timeout S]\n"
    "                                 until the region (default: the top left corner,\n"
    "                                 the reference's size) matches REF.png; T is the\n"
    "                                 mean difference per colour channel, 0-255 (default 8)\n"
    "  map IMAGE [--read-only]        maps a disk image as the device's USB disk\n"
    "  unmap\n"
    "  progress                       the mapped image's progress in percent\n"
    "  record start|stop\n"
    "\n"
    "Options:\n"
    "  --pid PID   the viewer with this process id (needed when several run)\n"
    "  --help      this text\n"
    "\n"
    "Waits time out after 30 s unless --timeout says otherwise.\n"
    "Exit codes: 0 done, 1 refused or timed out (the reason on standard error),\n"
    "2 wrong usage, 3 no viewer found.\n";

int fail(int code, const QString& text)
{
    std::fprintf(stderr, "h264video-ctl: %s\n", text.simplified().toLocal8Bit().constData());
    return code;
}

// The one viewer's service name, or an empty string and why.
QString find_viewer(QDBusConnection& bus, const QString& pid, QString* why)
{
    if (!pid.isEmpty()) {
        const QString name = QString::fromLatin1(SERVICE_PREFIX) + pid;
        if (!bus.interface()->isServiceRegistered(name).value()) {
            *why = QStringLiteral("no viewer with process id %1 on the session bus").arg(pid);
            return QString();
        }
        return name;
    }
    QStringList found;
    for (const QString& n : bus.interface()->registeredServiceNames().value())
        if (n.startsWith(QLatin1String(SERVICE_PREFIX)))
            found << n;
    if (found.isEmpty()) {
        *why = QStringLiteral("no viewer runs on this session bus");
        return QString();
    }
    if (found.size() > 1) {
        QStringList pids;
        for (const QString& n : found)
            pids << n.mid(int(qstrlen(SERVICE_PREFIX)));
        *why = QStringLiteral("several viewers run (process ids %1): choose one with --pid").arg(pids.join(", "));
        return QString();
    }
    return found.first();
}

bool take_option(QStringList& args, const QString& name, QString* value)
{
    const int i = args.indexOf(name);
    if (i < 0)
        return false;
    if (value) {
        if (i + 1 >= args.size())
            return false;
        *value = args.at(i + 1);
        args.removeAt(i + 1);
    }
    args.removeAt(i);
    return true;
}

QJsonValue to_json(const QVariant& v)
{
    if (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
        return to_json(v.value<QDBusVariant>().variant());
    return QJsonValue::fromVariant(v);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    QString pid;
    if (args.contains(QStringLiteral("--pid")) && !take_option(args, QStringLiteral("--pid"), &pid))
        return fail(EXIT_USAGE, QStringLiteral("--pid needs a process id"));
    if (args.isEmpty())
        return fail(EXIT_USAGE, QStringLiteral("no command (see --help)"));
    const QString cmd = args.takeFirst();

    // Options of the waits, taken before the positional arguments are counted.
    QString timeoutText = QStringLiteral("30"), regionText, toleranceText = QStringLiteral("8");
    if (args.contains(QStringLiteral("--timeout")) && !take_option(args, QStringLiteral("--timeout"), &timeoutText))
        return fail(EXIT_USAGE, QStringLiteral("--timeout needs seconds"));
    if (args.contains(QStringLiteral("--region")) && !take_option(args, QStringLiteral("--region"), &regionText))
        return fail(EXIT_USAGE, QStringLiteral("--region needs X,Y,W,H"));
    if (args.contains(QStringLiteral("--tolerance")) &&
        !take_option(args, QStringLiteral("--tolerance"), &toleranceText))
        return fail(EXIT_USAGE, QStringLiteral("--tolerance needs a number"));
    const bool readOnly = take_option(args, QStringLiteral("--read-only"), nullptr);
    bool ok = false;
    const double timeoutS = timeoutText.toDouble(&ok);
    if (!ok || timeoutS < 0 || timeoutS > 86400)
        return fail(EXIT_USAGE, QStringLiteral("--timeout: seconds between 0 and 86400, not \"%1\"").arg(timeoutText));
    const uint timeoutMs = uint(timeoutS * 1000.0);

    // Sub-command to method and arguments.
    QString method;
    QVariantList margs;
    // Calls that wait on the viewer get as long as they may take.
    int callTimeoutMs = 25000;
    QString outFile;
    auto need = [&](int n) { return args.size() == n; };
    if (cmd == QLatin1String("status") && need(0)) {
        method = QStringLiteral("Status");
    } else if (cmd == QLatin1String("type") && need(1)) {
        method = QStringLiteral("TypeText");
        margs << args[0];
        callTimeoutMs = 0x7fffffff;  // as long as the text takes
    } else if (cmd == QLatin1String("key") && !args.isEmpty()) {
        method = QStringLiteral("PressKeys");
    } else if (cmd == QLatin1String("keyseq") && need(1)) {
        method = QStringLiteral("SendKeySequence");
        margs << args[0];
    } else if (cmd == QLatin1String("mouse") && !args.isEmpty()) {
        const QString what = args.takeFirst();
        if (what == QLatin1String("move") && need(2)) {
            bool okx = false, oky = false;
            const int x = args[0].toInt(&okx), y = args[1].toInt(&oky);
            if (!okx || !oky)
                return fail(EXIT_USAGE, QStringLiteral("mouse move needs X and Y in remote pixels"));
            method = QStringLiteral("PointerMove");
            margs << x << y;
        } else if ((what == QLatin1String("click") || what == QLatin1String("press") ||
                    what == QLatin1String("release")) &&
                   args.size() <= 1) {
            method = what == QLatin1String("click")   ? QStringLiteral("PointerClick")
                     : what == QLatin1String("press") ? QStringLiteral("PointerPress")
                                                      : QStringLiteral("PointerRelease");
            margs << (args.isEmpty() ? QStringLiteral("left") : args[0]);
        } else if (what == QLatin1String("wheel") && need(1)) {
            const int steps = args[0].toInt(&ok);
            if (!ok)
                return fail(EXIT_USAGE, QStringLiteral("mouse wheel needs a number of steps"));
            method = QStringLiteral("PointerWheel");
            margs << steps;
        } else {
            return fail(EXIT_USAGE, QStringLiteral("mouse move X Y | click|press|release [BUTTON] | wheel STEPS"));
        }
    } else if (cmd == QLatin1String("screenshot") && need(1)) {
        method = QStringLiteral("Screenshot");
        outFile = args[0];
    } else if (cmd == QLatin1String("wait-stable") && need(1)) {
        const uint ms = args[0].toUInt(&ok);
        if (!ok)
            return fail(EXIT_USAGE, QStringLiteral("wait-stable needs milliseconds"));
        method = QStringLiteral("WaitStable");
        margs << ms << timeoutMs;
        callTimeoutMs = int(timeoutMs) + 10000;
    } else if (cmd == QLatin1String("wait-match") && need(1)) {
        QFile ref(args[0]);
        if (!ref.open(QIODevice::ReadOnly))
            return fail(EXIT_REFUSED, QStringLiteral("cannot read %1: %2").arg(args[0], ref.errorString()));
        const QByteArray png = ref.readAll();
        int x = 0, y = 0, w = 0, h = 0;
        if (!regionText.isEmpty()) {
            const QStringList p = regionText.split(QLatin1Char(','));
            bool a = false, b = false, c = false, d = false;
            if (p.size() == 4) {
                x = p[0].toInt(&a);
                y = p[1].toInt(&b);
                w = p[2].toInt(&c);
                h = p[3].toInt(&d);
            }
            if (!(a && b && c && d) || w <= 0 || h <= 0)
                return fail(EXIT_USAGE, QStringLiteral("--region needs X,Y,W,H, not \"%1\"").arg(regionText));
        }
        const double tol = toleranceText.toDouble(&ok);
        if (!ok || tol < 0)
            return fail(EXIT_USAGE, QStringLiteral("--tolerance needs a number from 0 to 255"));
        method = QStringLiteral("WaitMatch");
        margs << png << x << y << w << h << tol << timeoutMs;
        callTimeoutMs = int(timeoutMs) + 10000;
    } else if (cmd == QLatin1String("map") && need(1)) {
        method = QStringLiteral("MapImage");
        margs << args[0] << readOnly;
    } else if (cmd == QLatin1String("unmap") && need(0)) {
        method = QStringLiteral("Unmap");
    } else if (cmd == QLatin1String("progress") && need(0)) {
        method = QStringLiteral("MapProgress");
    } else if (cmd == QLatin1String("record") && need(1) &&
               (args[0] == QLatin1String("start") || args[0] == QLatin1String("stop"))) {
        method = args[0] == QLatin1String("start") ? QStringLiteral("RecordStart") : QStringLiteral("RecordStop");
    } else {
        return fail(EXIT_USAGE, QStringLiteral("unknown command or wrong arguments: %1 (see --help)").arg(cmd));
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(EXIT_NO_VIEWER, QStringLiteral("no session bus: %1").arg(bus.lastError().message()));
    QString why;
    const QString service = find_viewer(bus, pid, &why);
    if (service.isEmpty())
        return fail(EXIT_NO_VIEWER, why);

    auto call = [&](const QVariantList& a) {
        QDBusMessage m = QDBusMessage::createMethodCall(service, QString::fromLatin1(OBJECT_PATH),
                                                        QString::fromLatin1(INTERFACE), method);
        m.setArguments(a);
        return bus.call(m, QDBus::Block, callTimeoutMs);
    };

    QDBusMessage reply;
    if (method == QLatin1String("PressKeys")) {
        for (const QString& chord : args) {
            reply = call({chord});
            if (reply.type() == QDBusMessage::ErrorMessage)
                break;
        }
    } else {
        reply = call(margs);
    }
    if (reply.type() == QDBusMessage::ErrorMessage)
        return fail(EXIT_REFUSED, reply.errorMessage());
    if (reply.type() != QDBusMessage::ReplyMessage)
        return fail(EXIT_REFUSED, QStringLiteral("no answer from the viewer"));

    const QVariant first = reply.arguments().value(0);
    if (method == QLatin1String("Status")) {
        const QVariantMap map = qdbus_cast<QVariantMap>(first);
        QJsonObject o;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            o.insert(it.key(), to_json(it.value()));
        std::fputs(QJsonDocument(o).toJson(QJsonDocument::Indented).constData(), stdout);
    } else if (method == QLatin1String("TypeText")) {
        const QVariantMap map = qdbus_cast<QVariantMap>(first);
        std::printf("%s\n", map.value(QStringLiteral("summary")).toString().toLocal8Bit().constData());
    } else if (method == QLatin1String("MapProgress")) {
        std::printf("%d\n", first.toInt());
    } else if (method == QLatin1String("Screenshot")) {
        QSaveFile f(outFile);
        const QByteArray png = first.toByteArray();
        if (!f.open(QIODevice::WriteOnly) || f.write(png) != png.size() || !f.commit())
            return fail(EXIT_REFUSED, QStringLiteral("cannot write %1: %2").arg(outFile, f.errorString()));
    }
    return 0;
}
