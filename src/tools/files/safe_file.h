// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Output files are only ever created new, and settings files are replaced
// whole: a symbolic link, a FIFO or another program's file planted at one of
// the viewer's names is never written through or truncated.
#include <QByteArray>
#include <QString>

namespace safe_file {

// Replaces the file at path with bytes in one step: written to a new file
// beside it, flushed, then renamed over it. A link at path is replaced, not
// followed; a reader sees the old content or the new one, never half.
bool replace(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Creates <stem><ext>, or else <stem>-2<ext>, <stem>-3<ext>, … (the first
// name that does not exist), exclusively and without following links. Returns
// the open descriptor (close-on-exec, write-only) or -1; *chosen gets the name.
int create_new(const QString& stem, const QString& ext, QString* chosen, QString* error = nullptr,
               int first_index = 1);

// Writes bytes under the first free name of create_new's series, appearing
// there whole (written beside, then linked). False when nothing was written.
bool publish_new(const QString& stem, const QString& ext, const QByteArray& bytes, QString* chosen,
                 QString* error = nullptr);

// Makes path (and missing parents) a directory; one the call creates itself
// gets mode 0700. False when it cannot be made. *shared is set when the
// directory is writable by its group or by others.
bool make_private_dir(const QString& path, bool* shared = nullptr);

}  // namespace safe_file
