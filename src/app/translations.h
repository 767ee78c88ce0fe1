// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The interface language. The original texts stay the source strings; the
// catalogues (h264video_<language>.qm) translate them, and Qt's own catalogue
// (qtbase_<language>.qm) the standard buttons, for the user's language.
#include <QString>
#include <QStringList>

#include <functional>

namespace kvm_i18n {

// The languages to look for, best first, by gettext's rules: the message
// locale is LC_ALL, else LC_MESSAGES, else LANG; C and POSIX (or none) ask for
// no catalogue at all; otherwise the entries of LANGUAGE (colon-separated)
// come first, then the locale. Codesets and modifiers are dropped
// ("zh_CN.UTF-8" gives "zh_CN"). env returns an empty string for unset.
QStringList wanted_languages(const std::function<QString(const char*)>& env);

// Where the catalogues are: "translations" beside the executable (a build
// tree), then ../share/h264video/translations from it (an installation).
QStringList catalogue_dirs();

// Installs, into the running QCoreApplication, the viewer's catalogue for
// the first wanted language that has one (h264video_zh_CN, else h264video_zh)
// and Qt's catalogue for the same language. Returns that language, or an
// empty string when none has a catalogue (the source texts show).
QString install_translators(const QStringList& wanted, const QStringList& dirs);

}  // namespace kvm_i18n
