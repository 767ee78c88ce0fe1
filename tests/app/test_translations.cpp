// SPDX-License-Identifier: GPL-3.0-or-later
// The interface language: which catalogue the locale picks, found where the
// viewer looks for it (translations/ beside the executable, as built), and
// what it does to the original texts.
#include <QCoreApplication>
#include <QMap>
#include <QTranslator>

#include <gtest/gtest.h>

#include "app/translations.h"

namespace {

QStringList wanted(const QMap<QString, QString>& env)
{
    return kvm_i18n::wanted_languages([&env](const char* name) { return env.value(QString::fromLatin1(name)); });
}

void remove_translators()
{
    for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
}

QString tr(const char* context, const char* text)
{
    return QCoreApplication::translate(context, text);
}

}  // namespace

TEST(Translations, OneLanguageChosenByTheLocale)
{
    int argc = 1;
    char name[] = "test_translations";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const QStringList dirs = kvm_i18n::catalogue_dirs();

    // gettext's order: LC_ALL, LC_MESSAGES, LANG; LANGUAGE first, except in C.
    EXPECT_EQ(wanted({{"LANG", "en_US.UTF-8"}}), QStringList{"en_US"});
    EXPECT_EQ(wanted({{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "zh_CN.UTF-8"}}), QStringList{"zh_CN"});
    EXPECT_EQ(wanted({{"LANG", "de_DE.UTF-8"}, {"LANGUAGE", "zh_CN:en"}}), (QStringList{"zh_CN", "en", "de_DE"}));
    EXPECT_TRUE(wanted({{"LC_ALL", "C.UTF-8"}, {"LANG", "zh_CN.UTF-8"}, {"LANGUAGE", "zh_CN"}}).isEmpty());
    EXPECT_TRUE(wanted({{"LANG", "POSIX"}}).isEmpty());
    EXPECT_TRUE(wanted({}).isEmpty());

    // English everywhere, the original Chinese texts too; en_GB finds "en".
    EXPECT_EQ(kvm_i18n::install_translators({"en_GB"}, dirs), QStringLiteral("en")) << dirs.join(' ').toStdString();
    EXPECT_EQ(tr("uSetingDialog", "查询"), QStringLiteral("Query"));
    EXPECT_EQ(tr("c_ui_u_setting_dlg", "提示"), QStringLiteral("Notice"));
    EXPECT_EQ(tr("main", "启动串口工具失败。"), QStringLiteral("Starting the serial port tool failed."));
    EXPECT_EQ(tr("UiTexts", "Virtual Media Setting"), QStringLiteral("Virtual Media Setting"));
    remove_translators();

    // Chinese everywhere; a language without a catalogue is passed over.
    EXPECT_EQ(kvm_i18n::install_translators({"fr_FR", "zh_CN"}, dirs), QStringLiteral("zh_CN"));
    EXPECT_EQ(tr("UiTexts", "Virtual Media Setting"), QStringLiteral("虚拟媒体设置"));
    EXPECT_EQ(tr("H264VideoClass", "Actual Size"), QStringLiteral("实际大小"));
    EXPECT_EQ(tr("H264Video", "Video connect error."), QStringLiteral("视频连接出错。"));
    EXPECT_EQ(tr("uSetingDialog", "查询"), QStringLiteral("查询"));
    remove_translators();

    // No catalogue for the language (or the C locale): the original texts.
    EXPECT_TRUE(kvm_i18n::install_translators({"fr_FR"}, dirs).isEmpty());
    EXPECT_TRUE(kvm_i18n::install_translators({}, dirs).isEmpty());
    EXPECT_EQ(tr("uSetingDialog", "查询"), QStringLiteral("查询"));
    EXPECT_EQ(tr("UiTexts", "Virtual Media Setting"), QStringLiteral("Virtual Media Setting"));
}
