#pragma once
// Real FAT disk images for media tests and benchmarks: made with mkfs.vfat,
// filled and read with mtools, checked with fsck.vfat. Every tool runs with a
// bounded wait and is killed when it overruns.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

// Runs a program; its exit code, or -1 when it did not start, crashed or overran.
inline int run_tool(const QString& program, const QStringList& args, int timeout_ms = 60000,
                    QByteArray* output = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    if (!p.waitForFinished(timeout_ms)) {
        p.kill();
        p.waitForFinished(5000);
        return -1;
    }
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

inline bool write_file(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray read_file(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Deterministic bytes that do not compress into long runs.
inline QByteArray pattern_bytes(int size, uint32_t seed)
{
    QByteArray b(size, Qt::Uninitialized);
    uint32_t x = seed * 2654435761u + 1u;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = char(x & 0xFF);
    }
    return b;
}

// Copies host_file into the image as fat_path (e.g. "::/DOCS/A.TXT").
inline bool fat_put(const QString& image, const QString& host_file, const QString& fat_path)
{
    return run_tool(QStringLiteral("mcopy"), {QStringLiteral("-i"), image, QStringLiteral("-o"), host_file, fat_path}) ==
           0;
}

inline bool fat_mkdir(const QString& image, const QString& fat_path)
{
    return run_tool(QStringLiteral("mmd"), {QStringLiteral("-i"), image, fat_path}) == 0;
}

// The file's bytes as mtools reads them from the image; empty when it cannot.
inline QByteArray fat_get(const QString& image, const QString& fat_path, const QString& scratch)
{
    QFile::remove(scratch);
    if (run_tool(QStringLiteral("mcopy"), {QStringLiteral("-i"), image, QStringLiteral("-n"), fat_path, scratch}) != 0)
        return QByteArray();
    return read_file(scratch);
}

// An empty FAT file system of size_kib KiB in a new image file.
inline bool make_fat_image(const QString& image, int size_kib, const QString& label = QStringLiteral("KVMTEST"))
{
    QFile::remove(image);
    return run_tool(QStringLiteral("mkfs.vfat"),
                    {QStringLiteral("-C"), QStringLiteral("-n"), label, image, QString::number(size_kib)}) == 0;
}

// fsck.vfat in check-only mode finds nothing to mend.
inline bool fat_clean(const QString& image, QByteArray* report = nullptr)
{
    return run_tool(QStringLiteral("fsck.vfat"), {QStringLiteral("-n"), image}, 60000, report) == 0;
}

inline bool files_identical(const QString& a, const QString& b)
{
    return run_tool(QStringLiteral("cmp"), {QStringLiteral("-s"), a, b}) == 0;
}

// Runs of 512-byte sectors that differ between two images of equal size:
// (first sector, sector count).
inline std::vector<std::pair<uint32_t, uint32_t> > changed_sector_runs(const QByteArray& a, const QByteArray& b)
{
    std::vector<std::pair<uint32_t, uint32_t> > runs;
    if (a.size() != b.size())
        return runs;
    const uint32_t sectors = uint32_t(a.size() / 512);
    for (uint32_t s = 0; s < sectors; ++s) {
        if (std::memcmp(a.constData() + size_t(s) * 512, b.constData() + size_t(s) * 512, 512) == 0)
            continue;
        if (!runs.empty() && runs.back().first + runs.back().second == s)
            ++runs.back().second;
        else
            runs.emplace_back(s, 1);
    }
    return runs;
}
