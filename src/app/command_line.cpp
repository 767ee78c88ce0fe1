#include "app/command_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <strings.h>

#include "app/build_info.h"

namespace {

const char* const kLevels[] = {"trace", "debug", "info", "warn", "error", "alarm", "fatal"};

std::string base_name(const char* program)
{
    const char* slash = program ? std::strrchr(program, '/') : nullptr;
    return slash ? slash + 1 : (program && *program ? program : "H264Video");
}

}  // namespace

int parse_log_level(const char* word)
{
    if (!word)
        return -2;
    if (::strcasecmp(word, "off") == 0)
        return -1;
    for (int i = 0; i < 7; ++i)
        if (::strcasecmp(word, kLevels[i]) == 0)
            return i;
    return -2;
}

command_line parse_command_line(int argc, char** argv)
{
    command_line c;
    bool optionsEnded = false;
    auto fail = [&c](const std::string& why) {
        c.action = command_line::USAGE_ERROR;
        c.error = why;
        return c;
    };
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool haveLaunch = c.launchIndex >= 0 || c.launchFromStdin;
        if (optionsEnded || a[0] != '-') {
            if (!haveLaunch)
                c.launchIndex = i;
            continue;
        }
        if (std::strcmp(a, "-") == 0) {
            if (!haveLaunch)
                c.launchFromStdin = true;
        } else if (std::strcmp(a, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            c.action = command_line::HELP;
            return c;
        } else if (std::strcmp(a, "--version") == 0) {
            c.action = command_line::VERSION;
            return c;
        } else if (std::strcmp(a, "--connect") == 0) {
            c.connectDialog = true;
        } else if (std::strcmp(a, "--log-level") == 0 || std::strncmp(a, "--log-level=", 12) == 0) {
            const char* value = a[11] == '=' ? a + 12 : (i + 1 < argc ? argv[++i] : nullptr);
            if (!value)
                return fail("option --log-level needs a level");
            const int level = parse_log_level(value);
            if (level == -2)
                return fail(std::string("unknown log level '") + value + "'");
            c.logLevel = level;
            c.logLevelGiven = true;
        } else {
            return fail(std::string("unknown option '") + a + "'");
        }
    }
    return c;
}

std::string usage_text(const char* program, const QString& settingsDir, const QString& stateDir)
{
    const std::string p = base_name(program);
    std::string t;
    t += "Usage: " + p + " [OPTION]... LAUNCH_STRING\n";
    t += "       " + p + " [OPTION]... -\n";
    t += "       " + p + " --connect\n";
    t += "Shows the screen of a KVM-over-IP device and sends it keyboard and mouse input.\n";
    t += "The launch string (normally passed by the device's web page or a launcher) holds\n";
    t += "the device's address, ports and session keys. The device's web page hands it\n";
    t += "over when it starts the viewer; it can also be pasted into the Connect dialog.\n\n";
    t += "Options:\n";
    t += "  -                      read the launch string from standard input (first line,\n";
    t += "                         within 10 s)\n";
    t += "      --connect          without a launch string: ask for one in a dialog\n";
    t += "      --log-level LEVEL  trace, debug, info (default), warn, error, alarm, fatal\n";
    t += "                         or off\n";
    t += "  -h, --help             show this text and exit\n";
    t += "      --version          show the version, the build's revision and the\n";
    t += "                         library versions, and exit\n\n";
    t += "Files:\n";
    t += "  settings (key.xml, config.xml, clientSize.config): " + settingsDir.toStdString() + "\n";
    t += "  logs (log/) and crash record (crash.dat):         " + stateDir.toStdString() + "\n\n";
    t += "Exit status: 0 when the window was closed or the program was ended by SIGTERM,\n";
    t += "SIGINT or SIGHUP (also after a connection error message), 1 without a display,\n";
    t += "2 for a command-line error or no launch string on standard input.\n";
    return t;
}

std::string version_text(const char* program)
{
    return build_info_text(base_name(program).c_str());
}

bool read_launch_line(int fd, size_t maxBytes, int timeoutMs, QByteArray* line, std::string* error)
{
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    line->clear();
    while (size_t(line->size()) < maxBytes) {
        const int left =
            int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count());
        pollfd p{fd, POLLIN, 0};
        const int r = left > 0 ? ::poll(&p, 1, left) : 0;
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0) {
            *error = "no launch string on standard input within " + std::to_string(timeoutMs / 1000) +
                     " s (a line ended by a line feed, or the end of the input, was expected)";
            line->fill('\0');
            return false;
        }
        char c;
        const ssize_t n = r < 0 ? -1 : ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        if (c == '\0') {
            *error = "the launch string on standard input holds a NUL byte";
            line->fill('\0');
            return false;
        }
        line->append(c);
    }
    if (line->endsWith('\r'))
        line->chop(1);
    if (line->isEmpty()) {
        *error = "the launch string on standard input is empty";
        return false;
    }
    return true;
}

void hide_argument(char* arg)
{
    if (arg)
        std::memset(arg, 0, std::strlen(arg));
}

bool spawn_detached(const QByteArray& program, const QByteArray& arg, QString* error)
{
    // The grandchild reports a failed exec through a close-on-exec pipe; a
    // successful exec closes the pipe with nothing written.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        const int e = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(e));
        return false;
    }
    if (child == 0) {
        ::close(fds[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0)
            ::_exit(grandchild < 0 ? 1 : 0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        char* const argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(arg.constData()), nullptr};
        ::execv(program.constData(), argv);
        const int e = errno;
        ssize_t ignored = ::write(fds[1], &e, sizeof e);
        (void)ignored;
        ::_exit(127);
    }
    ::close(fds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int e = 0;
    ssize_t n;
    do {
        n = ::read(fds[0], &e, sizeof e);
    } while (n < 0 && errno == EINTR);
    ::close(fds[0]);
    if (n == ssize_t(sizeof e)) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(e));
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        if (error)
            *error = QStringLiteral("fork failed");
        return false;
    }
    return true;
}
