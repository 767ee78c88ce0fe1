// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/files/safe_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace safe_file {

namespace {

void set_error(QString* error, const QString& what, int err)
{
    if (error)
        *error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
}

bool write_all(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Enough for any number of files one session makes; a directory full of
// planted names is not searched for ever.
const int k_tries = 10000;

QString numbered(const QString& stem, const QString& ext, int i)
{
    return i == 1 ? stem + ext : stem + QStringLiteral("-%1").arg(i) + ext;
}

// Writes bytes into a new hidden file in dir; its name goes to *tmp.
bool write_temp(const QString& dir, const QString& name, const QByteArray& bytes, QByteArray* tmp, int* err)
{
    *tmp = QFile::encodeName(dir + QStringLiteral("/.") + name + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(tmp->data(), O_CLOEXEC);
    if (fd < 0) {
        *err = errno;
        return false;
    }
    bool ok = write_all(fd, bytes.constData(), bytes.size()) && ::fsync(fd) == 0;
    *err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        *err = errno;
    }
    if (!ok)
        ::unlink(tmp->constData());
    return ok;
}

// A settings file in a directory the user may not write to, but which the
// user may write: rewritten in place, unless it is not a plain file.
bool rewrite_in_place(const QByteArray& native, const QByteArray& bytes, int* err)
{
    const int fd = ::open(native.constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *err = errno;
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && write_all(fd, bytes.constData(), bytes.size());
    *err = ok ? 0 : (errno ? errno : EINVAL);
    ::close(fd);
    return ok;
}

}  // namespace

bool replace(const QString& path, const QByteArray& bytes, QString* error)
{
    const QFileInfo info(path);
    const QByteArray native = QFile::encodeName(path);
    QByteArray tmp;
    int err = 0;
    if (!write_temp(info.absolutePath(), info.fileName(), bytes, &tmp, &err)) {
        struct stat old;
        if ((err == EACCES || err == EROFS) && ::lstat(native.constData(), &old) == 0 && S_ISREG(old.st_mode) &&
            rewrite_in_place(native, bytes, &err))
            return true;
        set_error(error, QStringLiteral("cannot write %1").arg(path), err);
        return false;
    }
    // A file that was there keeps its permissions; a new one is the user's only.
    struct stat old;
    if (::lstat(native.constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::chmod(tmp.constData(), old.st_mode & 07777);
    if (::rename(tmp.constData(), native.constData()) != 0) {
        err = errno;
        ::unlink(tmp.constData());
        set_error(error, QStringLiteral("cannot write %1").arg(path), err);
        return false;
    }
    return true;
}

bool publish_new(const QString& stem, const QString& ext, const QByteArray& bytes, QString* chosen, QString* error)
{
    const QFileInfo info(stem);
    QByteArray tmp;
    int err = 0;
    if (!write_temp(info.absolutePath(), info.fileName() + ext, bytes, &tmp, &err)) {
        set_error(error, QStringLiteral("cannot write %1%2").arg(stem, ext), err);
        return false;
    }
    ::chmod(tmp.constData(), 0644);
    // link() never replaces and never follows a link at the new name: the
    // picture appears whole under the first free name.
    bool ok = false;
    for (int i = 1; i <= k_tries && !ok; ++i) {
        const QString name = numbered(stem, ext, i);
        if (::link(tmp.constData(), QFile::encodeName(name).constData()) == 0) {
            ok = true;
            if (chosen)
                *chosen = name;
        } else if (errno != EEXIST) {
            set_error(error, QStringLiteral("cannot create %1").arg(name), errno);
            break;
        }
    }
    ::unlink(tmp.constData());
    return ok;
}

int create_new(const QString& stem, const QString& ext, QString* chosen, QString* error, int first_index)
{
    for (int i = std::max(1, first_index); i < first_index + k_tries; ++i) {
        const QString name = numbered(stem, ext, i);
        const int fd = ::open(QFile::encodeName(name).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
        if (fd >= 0) {
            if (chosen)
                *chosen = name;
            return fd;
        }
        if (errno != EEXIST) {
            set_error(error, QStringLiteral("cannot create %1").arg(name), errno);
            return -1;
        }
    }
    set_error(error, QStringLiteral("no free name for %1%2").arg(stem, ext), EEXIST);
    return -1;
}

bool make_private_dir(const QString& path, bool* shared)
{
    const QByteArray native = QFile::encodeName(path);
    if (!QFileInfo(path).isDir()) {
        // Parents as the user's defaults; the directory itself is private.
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return false;
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (shared)
        *shared = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    return true;
}

}  // namespace safe_file
