// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>

#include "app/paths.h"

namespace kvm_i18n {

namespace {

// "zh_CN.UTF-8@modifier" -> "zh_CN".
QString language_of(QString locale)
{
    const int cut = locale.indexOf(QRegularExpression(QStringLiteral("[.@]")));
    if (cut >= 0)
        locale.truncate(cut);
    return locale.trimmed();
}

}  // namespace

QStringList wanted_languages(const std::function<QString(const char*)>& env)
{
    QString locale = env("LC_ALL");
    if (locale.isEmpty())
        locale = env("LC_MESSAGES");
    if (locale.isEmpty())
        locale = env("LANG");
    const QString lang = language_of(locale);
    // gettext ignores LANGUAGE in the C locale; so do we, so that the
    // original texts are what a C-locale run shows, whatever else is set.
    if (lang.isEmpty() || lang == QLatin1String("C") || lang == QLatin1String("POSIX"))
        return {};
    QStringList out;
    for (const QString& l : env("LANGUAGE").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString one = language_of(l);
        if (!one.isEmpty() && !out.contains(one))
            out << one;
    }
    if (!out.contains(lang))
        out << lang;
    return out;
}

QStringList catalogue_dirs()
{
    const QString exe = kvm_paths::executable_dir();
    return {exe + QStringLiteral("/translations"),
            QDir::cleanPath(exe + QStringLiteral("/../share/h264video/translations"))};
}

QString install_translators(const QStringList& wanted, const QStringList& dirs)
{
    for (const QString& lang : wanted) {
        // "zh_CN" and then "zh", never the bare "h264video" that QTranslator
        // would fall back to: a language without a catalogue goes on to the next.
        QStringList names{lang};
        const int underscore = lang.indexOf(QLatin1Char('_'));
        if (underscore > 0)
            names << lang.left(underscore);
        for (const QString& name : names) {
            for (const QString& dir : dirs) {
                const QString file = dir + QStringLiteral("/h264video_") + name + QStringLiteral(".qm");
                if (!QFileInfo::exists(file))
                    continue;
                auto* own = new QTranslator(QCoreApplication::instance());
                if (!own->load(file)) {
                    delete own;
                    continue;
                }
                QCoreApplication::installTranslator(own);
                auto* qt = new QTranslator(QCoreApplication::instance());
                if (qt->load(QStringLiteral("qtbase_") + name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
                    QCoreApplication::installTranslator(qt);
                else
                    delete qt;
                return name;
            }
        }
    }
    return QString();
}

}  // namespace kvm_i18n
