#pragma once
// Media channel of the device: answers the user identification (50) and
// map/unmap (07 00 00) and drives the viewer's virtual disk through the
// status cycle. After a map it reads the whole disk in wishes of
// readChunk sectors into an image file (unless told not to), then wishes
// nothing; commands add reads of given sectors and writes of a local file
// to given sectors, served before the rest of the whole-disk read.
#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "c_devsim_channel.h"

class c_devsim_media : public c_devsim_channel
{
public:
    explicit c_devsim_media(c_devsim& dev);
    ~c_devsim_media() override;

    // Queues a read of count sectors from start into the image file.
    // False with a reason when it cannot be queued.
    bool queue_read(uint32_t start, uint32_t count, QString* error);
    // Queues a write of a local file (rounded up to whole sectors) to start.
    bool queue_write(uint32_t start, const QString& file, QString* error);
    // The next read-data message is answered with result 1 (refused).
    void refuse_next_read() { m_refuseNext = true; }

    // Fault: the next status request is answered with this wish (1 read,
    // 2 write) instead of the next real one, which follows at the status
    // request after. The device does not wait for a hostile wish. The write-data
    // requests of a hostile write wish are answered with data for its start
    // sector; an offset asked for a third time (the viewer refused the data
    // twice) is only acknowledged, with a message that carries no data.
    void hostile_wish(int kind, uint32_t start, uint32_t count);

    struct status_t
    {
        bool mapped = false;
        uint32_t sectors = 0;       // size of the mapped disk
        uint64_t sectorsRead = 0;   // read-data messages stored since the map
        uint64_t sectorsWritten = 0;  // write-data messages sent since the map
        bool wholeDiskDone = false;
        int jobs = 0;               // reads and writes still to do
        QString image;              // the image file of this map
    };
    status_t status() const;

protected:
    void on_disconnect() override;
    bool on_frame(const uint8_t* header, uint8_t* body, uint32_t len) override;

private:
    struct job
    {
        bool write = false;
        bool wholeDisk = false;
        uint32_t start = 0;
        uint32_t count = 0;
        uint32_t done = 0;   // sectors of this job already wished for
        QByteArray data;     // write: the file, padded to whole sectors
    };
    struct wish
    {
        int kind = 0;  // 0 none, 1 read, 2 write
        uint32_t start = 0;
        uint32_t count = 0;
        std::vector<bool> got;  // read: sectors stored; write: offsets served
        uint32_t gotCount = 0;
        bool wholeDisk = false;
        QByteArray data;                   // write: the job's data (shared, not copied)
        uint32_t dataOffset = 0;           // write: sector of the data where the wish starts
    };

    void map(uint8_t flags, uint32_t sectors);
    void unmap();
    std::vector<uint8_t> next_wish();
    void finish_wish();
    // Read data is stored in runs of consecutive sectors, one write per run:
    // a write per sector costs the device about a fifth of its time per
    // sector. The run is written out before anything that may read the image
    // (a finished wish, the next status request, the unmap) and when the next
    // sector does not follow it.
    bool store_sector(uint64_t sector, const uint8_t* data);
    bool flush_run();

    mutable std::mutex m_lock;
    bool m_mapped = false;
    uint32_t m_sectors = 0;
    int m_image = -1;
    QString m_imagePath;
    std::deque<job> m_jobs;     // commands first, then the whole-disk read
    wish m_wish;
    std::vector<uint8_t> m_run;  // sectors not yet written, from m_runFirst on
    uint64_t m_runFirst = 0;
    uint64_t m_read = 0;
    uint64_t m_written = 0;
    bool m_wholeDone = false;
    std::atomic<bool> m_refuseNext{false};
    wish m_hostile;              // kind 0: none
    bool m_hostilePending = false;  // not yet given to the viewer
    std::vector<uint8_t> m_hostileAnswers;  // write: data answers per offset
};
