#include "app/window_size_file.h"

#include <QFile>

#include "tools/files/safe_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace window_size_file {

namespace {

// The file holds one short line; a longer file is no size file and is not
// read any further.
const qint64 k_max_bytes = 64;

}  // namespace

QString first_line(const QString& path)
{
    // Non-blocking, so that opening a FIFO put in its place does not wait
    // for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QString();
    QByteArray bytes;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        bytes.resize(k_max_bytes + 1);
        ssize_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        bytes.truncate(int(got));
    }
    ::close(fd);
    const qsizetype end = bytes.indexOf('\n');
    if (end < 0 && bytes.size() > k_max_bytes)
        return QString();
    return QString::fromLatin1(end < 0 ? bytes : bytes.left(end)).remove(QLatin1Char('\r'));
}

bool write(const QString& path, const QSize& size)
{
    return safe_file::replace(path, QString::asprintf("%d,%d\n", size.width(), size.height()).toLatin1());
}

}  // namespace window_size_file
