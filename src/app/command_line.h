#pragma once
// The viewer's command line, read before any Qt object exists: options,
// where the launch string comes from, and hiding it from the process list.
#include <QByteArray>
#include <QString>
#include <string>

struct command_line
{
    enum action_t { RUN, HELP, VERSION, USAGE_ERROR };
    action_t action = RUN;
    int launchIndex = -1;  // argv index of the launch string; -1 when absent or "-"
    bool launchFromStdin = false;
    bool connectDialog = false;  // --connect: ask for the launch string when none is given
    bool logLevelGiven = false;
    int logLevel = 2;      // INFO; -1 turns the logger off
    std::string error;     // for USAGE_ERROR
};

// Options: -h/--help, --version, --connect, --log-level LEVEL (also --log-level=LEVEL),
// "-" for a launch string on standard input, "--" ends the options. The first
// other argument is the launch string; a launch string never starts with "-",
// so any other argument that does is an error.
command_line parse_command_line(int argc, char** argv);

// trace, debug, info, warn, error, alarm, fatal (the logger's levels 0..6) or
// off (-1); -2 for anything else. Case does not matter.
int parse_log_level(const char* word);

// The usage text; it names the directories the files go to.
std::string usage_text(const char* program, const QString& settingsDir, const QString& stateDir);

// "<program> <version> (git <revision>)" and the libraries in use (build_info_text).
std::string version_text(const char* program);

// How long a launch string on standard input may take to arrive.
constexpr int LAUNCH_STDIN_TIMEOUT_MS = 10000;

// The first line of the stream (without its line end), at most maxBytes
// bytes, read until a line end or the end of the stream within timeoutMs in
// all. False with *error set when nothing whole came in time, or the line is
// empty or holds a NUL byte.
bool read_launch_line(int fd, size_t maxBytes, int timeoutMs, QByteArray* line, std::string* error);

// Overwrites an argument in place with zero bytes, so that the process list
// (/proc/PID/cmdline, ps) no longer shows it.
void hide_argument(char* arg);

// Starts program detached (in a new session, not a child of this process)
// with one argument passed byte for byte. False, with the system's reason in
// *error, when it could not be started.
bool spawn_detached(const QByteArray& program, const QByteArray& arg, QString* error);
