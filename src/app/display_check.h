#pragma once
// Starting without a display is a usage problem, not a crash: one line on
// standard error and exit code 1, instead of Qt's plug-in text, an abort and
// a crash record.
#include <string>

// The line to print when no display is named for the platform Qt will use
// (neither DISPLAY nor WAYLAND_DISPLAY, or the one QT_QPA_PLATFORM asks
// for); empty when there is one or the platform needs none.
std::string missing_display_text(const char* program);

// Around the application object's construction: Qt's messages are held back,
// and a fatal one (the display named cannot be opened) prints one line and
// ends the process with exit code 1. end_display_guard() passes the held
// messages on and restores the previous handler.
void begin_display_guard(const char* program);
void end_display_guard();
