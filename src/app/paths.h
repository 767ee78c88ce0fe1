#pragma once
// Where the viewer keeps its files. A portable copy (a file named
// "h264video-portable" beside the executable, or a build tree) keeps
// everything beside the executable. Any other copy, whoever runs it, keeps its
// settings (key.xml, config.xml, clientSize.config) in
// $XDG_CONFIG_HOME/h264video/ and its log/ and crash.dat in
// $XDG_STATE_HOME/h264video/, both created with mode 0700.
// Companion programs are always looked for beside the executable.
//
// The choice is made once, on first use; no QCoreApplication is needed.
#include <QString>

namespace kvm_paths {

// The directory of the running executable.
QString executable_dir();

// True when the settings and state live beside the executable.
bool portable();

// Directory of key.xml, config.xml and clientSize.config; also the process's
// working directory once start-up has run.
QString settings_dir();

// Directory of log/ and crash.dat.
QString state_dir();

// A settings file by name (e.g. "key.xml").
QString settings_file(const QString& name);

// The log directory, with a trailing "/".
QString log_dir();

// The crash record.
QString crash_file();

// A companion program by name (e.g. "comBySocket.exe").
QString companion(const QString& name);

// Creates the settings and state directories when missing (mode 0700 for the
// ones the viewer owns). False when one could not be made.
bool create_dirs();

}  // namespace kvm_paths
