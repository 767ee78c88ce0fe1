// Soak run of the real viewer (scripts/soak.sh; not a CI test): a 1080p
// devsim stream for a long time (10 minutes unless told) with continuous
// typing and pointer movement, and a virtual media loop in which devsim
// writes a run of sectors to the mapped disk image and reads it back.
//
// Checks, reported at the end (exit code 0 when all hold):
//  - the viewer's resident memory grows by less than 5 MB after the first minute;
//  - no message is lost: devsim received two keyboard reports (press and
//    release) for every character typed, and the text they make is the text
//    typed; every sector devsim wrote came back when it read it;
//  - the disk image holds exactly the bytes written, and the viewer closes
//    with exit code 0.
//
//   kvm_soak [--minutes M] [--keep] [--viewer PATH] [--devsim PATH]
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>
#include <QTemporaryDir>
#include <QTextStream>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "common/devsim_process.h"
#include "common/fat_image.h"
#include "common/viewer_ui.h"
#include "common/wait_until.h"
#include "common/x11_display.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int k_image_sectors = 16384;  // 8 MiB
constexpr int k_run_sectors = 256;      // per media round
constexpr double k_rss_limit_mb = 5.0;

struct options
{
    double minutes = 10;
    bool keep = false;
    QString viewer = QStringLiteral(VIEWER_PATH);
    QString devsim = QStringLiteral(DEVSIM_PATH);
};

double seconds_since(clock_type::time_point t)
{
    return std::chrono::duration<double>(clock_type::now() - t).count();
}

// Resident memory of a process in KiB (VmRSS), -1 when it cannot be read.
long rss_kib(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

bool fail(const char* what)
{
    std::fprintf(stderr, "soak: %s\n", what);
    return false;
}

class soak
{
public:
    explicit soak(const options& o) : m_opt(o), m_x(1600, 1000), m_ui(m_x, QStringLiteral(KVM_SOURCE_DIR)) {}

    int run();

private:
    QString path(const char* name) const { return QDir(m_dir.path()).filePath(QString::fromLatin1(name)); }
    bool start();
    bool media_round(std::mt19937& rng);
    void typist();
    void pointer(const QRect& g);
    void sample_rss();
    void count_reports(int* keyboard, QString* text, int* mouse) const;

    options m_opt;
    QTemporaryDir m_dir;
    x11_display m_x;
    viewer_ui m_ui;
    devsim_process m_dev;
    viewer_process m_viewer;
    Window m_main = 0;
    QByteArray m_expected;

    std::atomic<bool> m_stop{false};
    std::mutex m_typedLock;
    QString m_typed;
    int m_typeFailures = 0;

    clock_type::time_point m_t0;
    std::vector<std::pair<double, long>> m_rss;  // seconds since start, KiB
    int m_rounds = 0;
    int m_roundFailures = 0;
};

bool soak::start()
{
    if (!m_dir.isValid() || !m_x.ok())
        return fail("no temporary directory or no Xvfb");
    m_dir.setAutoRemove(!m_opt.keep);
    std::printf("soak: directory %s, display %s\n", qPrintable(m_dir.path()), m_x.name().c_str());

    m_expected = pattern_bytes(k_image_sectors * 512, 77);
    if (!write_file(path("disk.img"), m_expected))
        return fail("cannot write the disk image");

    m_dev.proc.setStandardErrorFile(path("devsim.err"));
    if (!m_dev.start(m_opt.devsim,
                     {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                      QStringLiteral("1920x1080"), QStringLiteral("--fps"), QStringLiteral("30"),
                      QStringLiteral("--events"), path("events.jsonl"), QStringLiteral("--events-hex-max"),
                      QStringLiteral("4"), QStringLiteral("--media-out"), path("devsim-copy.img")},
                     m_dir.path()))
        return fail("devsim did not start");

    QString exe;
    if (!viewer_process::install(m_opt.viewer, m_dir.path(), &exe))
        return fail("cannot copy the viewer");
    m_viewer.proc.setStandardOutputFile(path("viewer.out"));
    m_viewer.proc.setStandardErrorFile(path("viewer.err"));
    if (!m_viewer.start(exe, m_dev.launch, QString::fromStdString(m_x.name())))
        return fail("the viewer did not start");
    m_main = m_x.wait_window("Orvane V2.1", true, 30000);
    if (!m_main)
        return fail("no main window");

    // The disk image through the media dialog; devsim reads all of it.
    const Window dialog = m_ui.open_media_dialog(m_main);
    if (!dialog || !m_ui.choose_image(dialog, path("disk.img")) || !m_ui.press_map(dialog, false))
        return fail("the media dialog could not be driven");
    if (!wait_until([&] { return m_dev.status().value(QLatin1String("wholeDiskRead")).toBool(); }, 300000, 500))
        return fail("devsim never read the whole image");
    if (read_file(path("devsim-copy.img")) != m_expected)
        return fail("devsim read other bytes than the image's");
    if (!m_ui.close_dialog(dialog))
        return fail("the media dialog did not close");
    return true;
}

// devsim writes a run of new sectors to the viewer's disk, then reads them back.
bool soak::media_round(std::mt19937& rng)
{
    const int start = int(rng() % uint32_t(k_image_sectors - k_run_sectors));
    const QByteArray bytes = pattern_bytes(k_run_sectors * 512, 1000 + uint32_t(m_rounds));
    const QString chunk = path("round.bin");
    if (!write_file(chunk, bytes))
        return false;
    auto idle = [&] { return m_dev.status().value(QLatin1String("mediaJobs")).toInt() == 0; };
    if (!m_dev.command(QStringLiteral("write %1 %2").arg(start).arg(chunk)).startsWith(QStringLiteral("ok")) ||
        !wait_until(idle, 60000, 20))
        return false;
    m_expected.replace(start * 512, bytes.size(), bytes);
    if (!m_dev.command(QStringLiteral("read %1 %2").arg(start).arg(k_run_sectors)).startsWith(QStringLiteral("ok")) ||
        !wait_until(idle, 60000, 20))
        return false;
    QFile copy(path("devsim-copy.img"));
    if (!copy.open(QIODevice::ReadOnly) || !copy.seek(qint64(start) * 512))
        return false;
    return copy.read(bytes.size()) == bytes;
}

// Types text into the viewer, a line at a time, for as long as the run lasts.
void soak::typist()
{
    const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789 ");
    std::mt19937 rng(5);
    while (!m_stop) {
        QString chunk;
        for (int i = 0; i < 30; ++i)
            chunk += alphabet[int(rng() % uint32_t(alphabet.size()))];
        if (!m_ui.focus(m_main) ||
            !m_ui.xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("25"), chunk})) {
            ++m_typeFailures;
            continue;
        }
        std::lock_guard<std::mutex> lk(m_typedLock);
        m_typed += chunk;
    }
}

// Moves the pointer around the picture, on an X connection of its own.
void soak::pointer(const QRect& g)
{
    Display* d = XOpenDisplay(m_x.name().c_str());
    if (!d)
        return;
    double a = 0;
    while (!m_stop) {
        a += 0.05;
        const int px = g.center().x() + int(300 * std::cos(a));
        const int py = g.center().y() + int(200 * std::sin(1.3 * a));
        XTestFakeMotionEvent(d, -1, px, py, CurrentTime);
        XFlush(d);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    XCloseDisplay(d);
}

void soak::sample_rss()
{
    if (!m_rss.empty() && seconds_since(m_t0) - m_rss.back().first < 5)
        return;
    m_rss.emplace_back(seconds_since(m_t0), rss_kib(m_viewer.proc.processId()));
}

// devsim's keyboard reports so far: how many, the text their presses made,
// and how many mouse reports.
void soak::count_reports(int* keyboard, QString* text, int* mouse) const
{
    *keyboard = 0;
    *mouse = 0;
    text->clear();
    QFile f(path("events.jsonl"));
    if (!f.open(QIODevice::ReadOnly))
        return;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine();
        if (!line.contains("\"channel\":\"km\"") || !line.contains("\"event\":\"recv\""))
            continue;
        const QJsonObject fields = QJsonDocument::fromJson(line).object().value(QLatin1String("fields")).toObject();
        const QString name = fields.value(QLatin1String("name")).toString();
        if (name == QLatin1String("keyboard")) {
            ++*keyboard;
            *text += fields.value(QLatin1String("text")).toString();
        } else if (name.startsWith(QLatin1String("mouse"))) {
            ++*mouse;
        }
    }
}

int soak::run()
{
    if (!start())
        return 2;
    // Focus changes of the dialog sent key releases already; typing starts now.
    int keyboardBefore = 0, mouseBefore = 0;
    QString textBefore;
    count_reports(&keyboardBefore, &textBefore, &mouseBefore);
    m_t0 = clock_type::now();
    const double total = m_opt.minutes * 60.0;
    std::printf("soak: running %.1f minutes\n", m_opt.minutes);
    std::fflush(stdout);

    std::thread typing([this] { typist(); });
    const QRect g = m_x.geometry(m_main);
    std::thread moving([this, g] { pointer(g); });
    std::mt19937 rng(17);
    while (seconds_since(m_t0) < total) {
        sample_rss();
        if (media_round(rng))
            ++m_rounds;
        else
            ++m_roundFailures;
        if (m_viewer.proc.state() != QProcess::Running)
            break;
    }
    m_stop = true;
    typing.join();
    moving.join();
    sample_rss();
    const bool alive = m_viewer.proc.state() == QProcess::Running;

    // The last reports reach devsim within a few seconds.
    const int typedChars = [&] {
        std::lock_guard<std::mutex> lk(m_typedLock);
        return int(m_typed.size());
    }();
    qint64 lastKm = -1;
    wait_until(
        [&] {
            const qint64 km = m_dev.status().value(QLatin1String("kmReceived")).toInteger();
            const bool still = km == lastKm;
            lastKm = km;
            return still;
        },
        60000, 2000);
    int reports = 0, mouse = 0;
    QString text;
    count_reports(&reports, &text, &mouse);
    reports -= keyboardBefore;
    mouse -= mouseBefore;
    const QString typed = [&] {
        std::lock_guard<std::mutex> lk(m_typedLock);
        return m_typed;
    }();
    const bool textOk = text == textBefore + typed;
    const bool keysOk = textOk && reports == 2 * typedChars;
    const QJsonObject st = m_dev.status();

    const auto t = clock_type::now();
    m_x.request_close(m_main);
    const int rc = m_viewer.wait_exit(30000);
    const double closeMs = seconds_since(t) * 1000.0;
    const bool imageOk = read_file(path("disk.img")) == m_expected;

    // Memory from the first minute on (half the run when it is shorter).
    const double from = std::min(60.0, total / 2);
    long base = -1, last = -1, most = -1;
    for (const auto& s : m_rss) {
        if (s.first < from || s.second < 0)
            continue;
        if (base < 0)
            base = s.second;
        last = s.second;
        most = std::max(most, s.second);
    }
    const double growMb = base < 0 ? 1e9 : (last - base) / 1024.0;
    const bool memOk = base >= 0 && growMb < k_rss_limit_mb;
    const qint64 written = st.value(QLatin1String("sectorsWritten")).toInteger();
    const qint64 read = st.value(QLatin1String("sectorsRead")).toInteger();
    const bool mediaOk = m_roundFailures == 0 && written == qint64(m_rounds) * k_run_sectors &&
                         read == qint64(k_image_sectors) + qint64(m_rounds) * k_run_sectors;

    QString report;
    QTextStream r(&report);
    r.setRealNumberNotation(QTextStream::FixedNotation);
    r.setRealNumberPrecision(1);
    r << "duration                " << seconds_since(m_t0) / 60.0 << " min of a 1920x1080 stream at 30 frames/s, "
      << st.value(QLatin1String("pictures")).toInteger() << " pictures sent\n";
    r << "viewer                  " << (alive ? "up to the end" : "ENDED EARLY") << ", closed in " << closeMs
      << " ms with exit code " << rc << "\n";
    r << "resident memory         " << base / 1024.0 << " MB at " << from << " s, " << last / 1024.0
      << " MB at the end (growth " << growMb << " MB, highest " << most / 1024.0 << " MB; limit "
      << k_rss_limit_mb << " MB): " << (memOk ? "ok" : "FAILED") << "\n";
    r << "typing                  " << typedChars << " characters typed, " << reports
      << " keyboard reports received (expected " << 2 * typedChars << "), the text they make "
      << (textOk ? "identical" : "DIFFERENT") << "; " << m_typeFailures << " xdotool failures: "
      << (keysOk ? "ok" : "FAILED") << "\n";
    r << "pointer                 " << mouse << " mouse reports received\n";
    r << "media                   " << m_rounds << " rounds of " << k_run_sectors << " sectors written and read back ("
      << m_roundFailures << " failed); devsim counted " << written << " written, " << read << " read: "
      << (mediaOk ? "ok" : "FAILED") << "\n";
    r << "disk image              " << (imageOk ? "byte-correct" : "DIFFERENT from what was written") << "\n";
    std::printf("\n%s", qPrintable(report));
    QFile out(path("soak-report.txt"));
    if (out.open(QIODevice::WriteOnly))
        out.write(report.toUtf8());

    const bool ok = alive && rc == 0 && memOk && keysOk && mediaOk && imageOk;
    std::printf("soak: %s\n", ok ? "PASSED" : "FAILED");
    m_dev.stop();
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    options o;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--minutes") && i + 1 < args.size())
            o.minutes = args[++i].toDouble();
        else if (args[i] == QLatin1String("--keep"))
            o.keep = true;
        else if (args[i] == QLatin1String("--viewer") && i + 1 < args.size())
            o.viewer = args[++i];
        else if (args[i] == QLatin1String("--devsim") && i + 1 < args.size())
            o.devsim = args[++i];
        else {
            std::fprintf(stderr, "usage: kvm_soak [--minutes M] [--keep] [--viewer PATH] [--devsim PATH]\n");
            return 2;
        }
    }
    if (!(o.minutes > 0)) {
        std::fprintf(stderr, "soak: --minutes must be above 0\n");
        return 2;
    }
    soak s(o);
    return s.run();
}
