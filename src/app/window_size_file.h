#pragma once
// The window size file (clientSize.config): one line "width,height" written
// when the window closes and read when it opens. Whatever stands in its
// place is never allowed to stall the window: only a regular file is read,
// and only its first bytes; a FIFO, a device or a directory there is left
// alone on both sides.
#include <QSize>
#include <QString>

namespace window_size_file {

// The file's first line without its line end; empty when there is no such
// file, it is no regular file, or no line end comes within its first bytes.
QString first_line(const QString& path);

// Writes size as the file's one line. False when the file could not be
// written or something other than a regular file is in its place.
bool write(const QString& path, const QSize& size);

}  // namespace window_size_file
