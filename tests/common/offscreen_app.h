// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One QApplication for a widget test, on the offscreen platform unless the
// environment names another.
#include <QApplication>

inline QApplication* offscreen_app()
{
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QApplication* a = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return a;
}
