// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What this build is, for --version and the crash record: the version, the
// git revision it was built from, and the Qt and FFmpeg libraries in use.
#include <string>

// Several lines, each ending with a line feed; the first is
// "<program> <version> (git <revision>)".
std::string build_info_text(const char* program);
