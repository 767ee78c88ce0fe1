#include "c_devsim_media.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "c_devsim.h"
#include "c_devsim_frames.h"
#include "tools/socket/c_frame.h"

namespace {
constexpr uint32_t k_sector = 512;
constexpr uint32_t k_max_wish = 65535;  // the count travels as u16
constexpr size_t k_max_run = 256 * 1024;  // bytes held before they are written
}  // namespace

c_devsim_media::c_devsim_media(c_devsim& dev) : c_devsim_channel(dev, "media") {}

c_devsim_media::~c_devsim_media()
{
    stop();
    std::lock_guard<std::mutex> lk(m_lock);
    flush_run();
    if (m_image >= 0)
        ::close(m_image);
}

bool c_devsim_media::store_sector(uint64_t sector, const uint8_t* data)
{
    const bool follows = !m_run.empty() && sector == m_runFirst + m_run.size() / k_sector;
    bool ok = true;
    if (!m_run.empty() && (!follows || m_run.size() >= k_max_run))
        ok = flush_run();
    if (m_run.empty())
        m_runFirst = sector;
    m_run.insert(m_run.end(), data, data + k_sector);
    return ok;
}

bool c_devsim_media::flush_run()
{
    if (m_run.empty())
        return true;
    const uint64_t sectors = m_run.size() / k_sector;
    const bool ok = m_image >= 0 && pwrite(m_image, m_run.data(), m_run.size(), off_t(m_runFirst * k_sector)) ==
                                        ssize_t(m_run.size());
    if (!ok) {
        m_dev.log("media: cannot write sectors %llu to %llu to the image", (unsigned long long)m_runFirst,
                  (unsigned long long)(m_runFirst + sectors - 1));
        m_dev.events().note(name(), "error", {{QStringLiteral("error"), QStringLiteral("image write failed")},
                                              {QStringLiteral("sector"), qint64(m_runFirst)},
                                              {QStringLiteral("count"), qint64(sectors)}});
    }
    m_run.clear();
    return ok;
}

c_devsim_media::status_t c_devsim_media::status() const
{
    std::lock_guard<std::mutex> lk(m_lock);
    status_t s;
    s.mapped = m_mapped;
    s.sectors = m_sectors;
    s.sectorsRead = m_read;
    s.sectorsWritten = m_written;
    s.wholeDiskDone = m_wholeDone;
    s.jobs = int(m_jobs.size()) + (m_wish.kind ? 1 : 0);
    s.image = m_imagePath;
    return s;
}

bool c_devsim_media::queue_read(uint32_t start, uint32_t count, QString* error)
{
    std::lock_guard<std::mutex> lk(m_lock);
    if (count == 0) {
        *error = QStringLiteral("count must be at least 1");
        return false;
    }
    if (m_mapped && (uint64_t(start) + count > m_sectors)) {
        *error = QStringLiteral("sectors %1..%2 lie beyond the mapped disk of %3 sectors")
                     .arg(start)
                     .arg(uint64_t(start) + count - 1)
                     .arg(m_sectors);
        return false;
    }
    job j;
    j.start = start;
    j.count = count;
    auto it = std::find_if(m_jobs.begin(), m_jobs.end(), [](const job& x) { return x.wholeDisk; });
    m_jobs.insert(it, j);
    return true;
}

bool c_devsim_media::queue_write(uint32_t start, const QString& file, QString* error)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(file, f.errorString());
        return false;
    }
    QByteArray data = f.readAll();
    if (data.isEmpty()) {
        *error = QStringLiteral("%1 is empty").arg(file);
        return false;
    }
    const uint32_t count = uint32_t((uint64_t(data.size()) + k_sector - 1) / k_sector);
    data.append(QByteArray(int(count * k_sector) - data.size(), '\0'));

    std::lock_guard<std::mutex> lk(m_lock);
    if (m_mapped && (uint64_t(start) + count > m_sectors)) {
        *error = QStringLiteral("%1 sectors from %2 lie beyond the mapped disk of %3 sectors")
                     .arg(count)
                     .arg(start)
                     .arg(m_sectors);
        return false;
    }
    job j;
    j.write = true;
    j.start = start;
    j.count = count;
    j.data = data;
    auto it = std::find_if(m_jobs.begin(), m_jobs.end(), [](const job& x) { return x.wholeDisk; });
    m_jobs.insert(it, j);
    return true;
}

void c_devsim_media::hostile_wish(int kind, uint32_t start, uint32_t count)
{
    std::lock_guard<std::mutex> lk(m_lock);
    m_hostile = wish();
    m_hostile.kind = kind;
    m_hostile.start = start;
    m_hostile.count = count;
    m_hostilePending = true;
    m_hostileAnswers.assign(count, 0);
}

void c_devsim_media::on_disconnect()
{
    std::lock_guard<std::mutex> lk(m_lock);
    if (m_mapped)
        unmap();
}

void c_devsim_media::map(uint8_t flags, uint32_t sectors)
{
    if (m_mapped)
        unmap();
    m_mapped = true;
    m_sectors = sectors;
    m_read = 0;
    m_written = 0;
    m_wholeDone = false;
    m_wish = wish();
    // Jobs queued before the map stay; those beyond the disk are dropped.
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        if (uint64_t(it->start) + it->count > sectors) {
            m_dev.log("media: dropped a queued %s of sectors beyond the disk", it->write ? "write" : "read");
            it = m_jobs.erase(it);
        } else {
            ++it;
        }
    }
    m_imagePath = QFileInfo(m_dev.options().mediaOut).absoluteFilePath();
    m_image = ::open(m_imagePath.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_image < 0 || ftruncate(m_image, off_t(uint64_t(sectors) * k_sector)) != 0) {
        m_dev.log("media: cannot create the image file %s", qPrintable(m_imagePath));
        m_dev.events().note(name(), "error", {{QStringLiteral("error"), QStringLiteral("cannot create the image file")},
                                              {QStringLiteral("image"), m_imagePath}});
    }
    if (m_dev.options().readWholeDisk && sectors > 0) {
        job j;
        j.wholeDisk = true;
        j.count = sectors;
        m_jobs.push_back(j);
    }
    m_dev.log("media: disk of %u sectors (%.1f MiB) mapped%s; image %s", sectors, sectors / 2048.0,
              (flags & 0x80) ? " (mode bit set)" : "", qPrintable(m_imagePath));
    m_dev.events().note(name(), "map", {{QStringLiteral("sectors"), qint64(sectors)},
                                        {QStringLiteral("flags"), int(flags)},
                                        {QStringLiteral("image"), m_imagePath}});
}

void c_devsim_media::unmap()
{
    flush_run();
    if (m_image >= 0) {
        fsync(m_image);
        ::close(m_image);
        m_image = -1;
    }
    // An unfinished wish is lost with the map; so is the whole-disk read.
    m_wish = wish();
    m_jobs.erase(std::remove_if(m_jobs.begin(), m_jobs.end(), [](const job& j) { return j.wholeDisk; }),
                 m_jobs.end());
    m_mapped = false;
    m_dev.log("media: disk unmapped after %llu sectors read, %llu written", (unsigned long long)m_read,
              (unsigned long long)m_written);
    m_dev.events().note(name(), "unmap", {{QStringLiteral("sectorsRead"), qint64(m_read)},
                                          {QStringLiteral("sectorsWritten"), qint64(m_written)}});
}

std::vector<uint8_t> c_devsim_media::next_wish()
{
    flush_run();
    uint8_t b[8] = {8, 0, 0, 0, 0, 0, 0, 0};
    if (m_mapped && m_wish.kind && m_wish.gotCount < m_wish.count) {
        // The viewer asks again before finishing: wish the rest once more.
        uint32_t first = 0;
        while (first < m_wish.count && m_wish.got[first])
            ++first;
        b[1] = uint8_t(m_wish.kind);
        write_be32(b + 2, m_wish.start + first);
        write_be16(b + 6, uint16_t(m_wish.count - first));
        if (first) {
            m_wish.start += first;
            m_wish.count -= first;
            m_wish.dataOffset += first;
            m_wish.got.erase(m_wish.got.begin(), m_wish.got.begin() + first);
            m_wish.gotCount -= first;
        }
        return c_devsim_frames::clear(b, 8);
    }
    m_wish = wish();
    if (m_mapped && !m_jobs.empty()) {
        job& j = m_jobs.front();
        const uint32_t limit = j.write ? k_max_wish : uint32_t(std::max(1, m_dev.options().readChunk));
        const uint32_t n = std::min(j.count - j.done, limit);
        m_wish.kind = j.write ? 2 : 1;
        m_wish.start = j.start + j.done;
        m_wish.count = n;
        m_wish.got.assign(n, false);
        m_wish.wholeDisk = j.wholeDisk;
        m_wish.data = j.data;
        m_wish.dataOffset = j.done;
        j.done += n;
        if (j.done >= j.count)
            m_jobs.pop_front();
        b[1] = uint8_t(m_wish.kind);
        write_be32(b + 2, m_wish.start);
        write_be16(b + 6, uint16_t(n));
    }
    return c_devsim_frames::clear(b, 8);
}

void c_devsim_media::finish_wish()
{
    flush_run();
    const wish w = m_wish;
    m_wish = wish();
    if (w.kind == 2) {
        m_dev.events().note(name(), "write-done", {{QStringLiteral("start"), qint64(w.start)},
                                                   {QStringLiteral("count"), qint64(w.count)}});
        m_dev.log("media: wrote %u sectors from %u", w.count, w.start);
        return;
    }
    if (w.wholeDisk) {
        const bool more = std::any_of(m_jobs.begin(), m_jobs.end(), [](const job& j) { return j.wholeDisk; });
        if (!more) {
            m_wholeDone = true;
            if (m_image >= 0)
                fsync(m_image);
            m_dev.log("media: whole disk read, %u sectors, into %s", m_sectors, qPrintable(m_imagePath));
            m_dev.events().note(name(), "read-done", {{QStringLiteral("sectors"), qint64(m_sectors)},
                                                      {QStringLiteral("image"), m_imagePath},
                                                      {QStringLiteral("whole"), true}});
        }
    } else {
        m_dev.events().note(name(), "read-done", {{QStringLiteral("start"), qint64(w.start)},
                                                  {QStringLiteral("count"), qint64(w.count)},
                                                  {QStringLiteral("image"), m_imagePath},
                                                  {QStringLiteral("whole"), false}});
    }
}

bool c_devsim_media::on_frame(const uint8_t* header, uint8_t* body, uint32_t len)
{
    if (frame_plain_len(header) != len) {
        protocol_error("media message with differing plain and wire lengths (the channel is never enciphered)");
        return false;
    }
    QJsonObject f;
    const uint8_t type = body[0];
    std::vector<uint8_t> reply;
    std::unique_lock<std::mutex> lk(m_lock);
    switch (type) {
    case 50: {
        if (len < 5)
            break;
        const uint32_t id = read_be32(body + 1);
        const bool ok = id == m_dev.options().userID && !m_dev.options().refuseLogin;
        f.insert(QStringLiteral("name"), QStringLiteral("userid"));
        f.insert(QStringLiteral("userID"), qint64(id));
        f.insert(QStringLiteral("accepted"), ok);
        reply = c_devsim_frames::clear({50, uint8_t(ok ? 0 : 1)});
        break;
    }
    case 7: {
        if (len < 7)
            break;
        const uint8_t flags = body[2];
        const uint32_t sectors = read_be32(body + 3);
        f.insert(QStringLiteral("name"), (flags & 1) ? QStringLiteral("map") : QStringLiteral("unmap"));
        f.insert(QStringLiteral("flags"), int(flags));
        f.insert(QStringLiteral("sectors"), qint64(sectors));
        if (flags & 1)
            map(flags, sectors);
        else if (m_mapped)
            unmap();
        reply = c_devsim_frames::clear({7, 0, 0});
        break;
    }
    case 8: {
        f.insert(QStringLiteral("name"), QStringLiteral("status"));
        if (m_hostilePending) {
            uint8_t b[8] = {8, uint8_t(m_hostile.kind), 0, 0, 0, 0, 0, 0};
            write_be32(b + 2, m_hostile.start);
            write_be16(b + 6, uint16_t(m_hostile.count));
            reply = c_devsim_frames::clear(b, 8);
            m_hostilePending = false;
            f.insert(QStringLiteral("hostile"), true);
            m_dev.log("media: hostile %s wish of %u sectors from %u", m_hostile.kind == 1 ? "read" : "write",
                      m_hostile.count, m_hostile.start);
        } else {
            m_hostile = wish();  // the viewer has moved on
            reply = next_wish();
        }
        f.insert(QStringLiteral("wish"), int(reply[FRAME_HEADER_LEN + 1]));
        f.insert(QStringLiteral("start"), qint64(read_be32(reply.data() + FRAME_HEADER_LEN + 2)));
        f.insert(QStringLiteral("count"), int(read_be16(reply.data() + FRAME_HEADER_LEN + 6)));
        break;
    }
    case 9: {
        if (len < 8 + k_sector)
            break;
        const uint32_t start = read_be32(body + 2);
        const uint16_t index = read_be16(body + 6);
        const uint64_t sector = uint64_t(start) + index;
        // One of these per sector: its fields are built only when recorded.
        if (m_dev.events().wanted()) {
            f.insert(QStringLiteral("name"), QStringLiteral("read-data"));
            f.insert(QStringLiteral("start"), qint64(start));
            f.insert(QStringLiteral("index"), int(index));
            f.insert(QStringLiteral("sector"), qint64(sector));
        }
        if (m_refuseNext.exchange(false)) {
            f.insert(QStringLiteral("refused"), true);
            reply = c_devsim_frames::clear({9, 1, 1});
            m_dev.log("media: refused read data of sector %llu (as told)", (unsigned long long)sector);
            break;
        }
        if (!m_mapped || sector >= m_sectors || m_image < 0) {
            f.insert(QStringLiteral("error"), QStringLiteral("sector not stored"));
            m_dev.log("media: read data of sector %llu not stored (outside the mapped disk)",
                      (unsigned long long)sector);
        } else {
            if (!store_sector(sector, body + 8))
                f.insert(QStringLiteral("error"), QStringLiteral("image write failed"));
            ++m_read;
        }
        reply = c_devsim_frames::clear({9, 1, 0});
        if (m_wish.kind == 1 && sector >= m_wish.start && sector < uint64_t(m_wish.start) + m_wish.count) {
            const uint32_t i = uint32_t(sector - m_wish.start);
            if (!m_wish.got[i]) {
                m_wish.got[i] = true;
                if (++m_wish.gotCount == m_wish.count)
                    finish_wish();
            }
        }
        break;
    }
    case 10: {
        if (len < 4)
            break;
        const uint16_t offset = read_be16(body + 2);
        f.insert(QStringLiteral("name"), QStringLiteral("write-request"));
        f.insert(QStringLiteral("offset"), int(offset));
        if (m_hostile.kind == 2 && !m_hostilePending && offset < m_hostile.count) {
            f.insert(QStringLiteral("hostile"), true);
            if (m_hostileAnswers[offset]++ >= 2) {
                reply = c_devsim_frames::clear({0x0B, 1});
                break;
            }
            std::vector<uint8_t> b(8 + k_sector, uint8_t(0xE0 | (offset & 0x0F)));
            b[0] = 0x0A;
            b[1] = 1;
            write_be32(b.data() + 2, m_hostile.start);
            write_be16(b.data() + 6, offset);
            f.insert(QStringLiteral("sector"), qint64(uint64_t(m_hostile.start) + offset));
            reply = c_devsim_frames::clear(b.data(), uint32_t(b.size()));
            break;
        }
        if (m_wish.kind != 2 || offset >= m_wish.count) {
            // Not asked for: a message of no meaning to the viewer still
            // acknowledges the request, so it is not sent again and again.
            f.insert(QStringLiteral("error"), QStringLiteral("no write in progress for this offset"));
            m_dev.log("media: write-data request for offset %u without a write wish", offset);
            reply = c_devsim_frames::clear({0x0B, 1});
            break;
        }
        std::vector<uint8_t> b(8 + k_sector);
        b[0] = 0x0A;
        b[1] = 1;
        write_be32(b.data() + 2, m_wish.start);
        write_be16(b.data() + 6, offset);
        memcpy(b.data() + 8, m_wish.data.constData() + size_t(m_wish.dataOffset + offset) * k_sector, k_sector);
        f.insert(QStringLiteral("sector"), qint64(uint64_t(m_wish.start) + offset));
        reply = c_devsim_frames::clear(b.data(), uint32_t(b.size()));
        ++m_written;
        if (!m_wish.got[offset]) {
            m_wish.got[offset] = true;
            if (++m_wish.gotCount == m_wish.count)
                finish_wish();
        }
        break;
    }
    default:
        f.insert(QStringLiteral("name"), QStringLiteral("unknown"));
        // Every message must be answered or the viewer sends it again.
        reply = c_devsim_frames::clear({type, 1, 0});
        break;
    }
    lk.unlock();
    if (reply.empty()) {
        f.insert(QStringLiteral("error"), QStringLiteral("too short"));
        m_dev.events().message(name(), body, len, f);
        protocol_error("media message too short for its type");
        return false;
    }
    m_dev.events().message(name(), body, len, f);
    send(reply);
    return true;
}
