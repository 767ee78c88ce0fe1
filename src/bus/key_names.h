#pragma once
// Key chords by name for scripts: "ctrl+alt+Delete", "F2", "Return", "a".
// Names are those of Qt's key sequences (case does not matter) with a few
// common spellings besides (Delete, Escape, PageUp, Super, Win, Enter).
#include <QString>
#include <vector>

// The Qt key codes of the chord, modifiers first; false (and the name that
// failed) for an unknown name.
bool chord_keys(const QString& chord, std::vector<int>& keys, QString* bad);
