#include "tools/record/c_stream_recorder.h"

#include "log/log.h"
#include "tools/files/safe_file.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace {

// Time stamps of consecutive pictures differ by at least this much.
const int k_min_gap_ms = 2;
// A new file (a new picture size) at most this often; a stream that changes
// size faster ends the recording instead of filling the directory.
const std::chrono::seconds k_min_file_span(10);

enum : uint8_t
{
    NAL_IDR = 5,
    NAL_SPS = 7,
    NAL_PPS = 8
};

std::string av_error_text(int rc)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(rc, text, sizeof text);
    return text;
}

// Picture size from the SPS of a key unit, through libavcodec's parser.
bool picture_size(const uint8_t* data, size_t length, int* width, int* height)
{
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
    bool ok = false;
    if (parser && ctx) {
        parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
        uint8_t* out = nullptr;
        int out_length = 0;
        av_parser_parse2(parser, ctx, &out, &out_length, data, int(length), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        *width = parser->width;
        *height = parser->height;
        ok = *width > 0 && *height > 0;
    }
    avcodec_free_context(&ctx);
    if (parser)
        av_parser_close(parser);
    return ok;
}

// Wall-clock time (UTC) of a file's start, for its metadata.
std::string utc_now_iso()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &tm);
    return text;
}

}  // namespace

// One output file at a time; only the writer thread touches it once started.
struct c_stream_recorder::muxer
{
    AVFormatContext* fmt = nullptr;
    AVPacket* packet = nullptr;
    int fd = -1;
    std::string path;
    bool header = false;
    bool broken = false;    // a write failed: units are dropped until stop
    bool need_key = true;   // waiting for a key frame to (re)start at
    std::vector<uint8_t> parameter_sets;
    int width = 0;
    int height = 0;
    clock::time_point origin;
    int64_t last_pts = -1;
    int64_t last_duration = 0;
    // The newest unit waits for the next one, which gives its duration.
    std::vector<uint8_t> pending;
    int64_t pending_pts = 0;
    bool pending_key = false;
    bool has_pending = false;

    ~muxer() { close(false); }

    // Creates the first free file of the series from index on: never one that
    // exists, never through a link (another viewer, or a planted name).
    bool open(const std::string& stem, int index, std::string* error)
    {
        QString chosen, reason;
        fd = safe_file::create_new(QString::fromStdString(stem), QStringLiteral(".mkv"), &chosen, &reason, index);
        if (fd < 0) {
            *error = reason.toStdString();
            return false;
        }
        path = QFile::encodeName(chosen).toStdString();
        const int k_io_buffer = 64 * 1024;
        auto* buffer = static_cast<unsigned char*>(av_malloc(k_io_buffer));
        AVIOContext* pb = buffer ? avio_alloc_context(buffer, k_io_buffer, 1, this, nullptr, &muxer::write_fd, &muxer::seek_fd)
                                 : nullptr;
        int rc = pb ? avformat_alloc_output_context2(&fmt, nullptr, "matroska", path.c_str()) : AVERROR(ENOMEM);
        if (rc < 0 || !fmt) {
            *error = av_error_text(rc < 0 ? rc : AVERROR(ENOMEM));
            if (pb)
                av_freep(&pb->buffer);
            else
                av_free(buffer);
            avio_context_free(&pb);
            avformat_free_context(fmt);
            fmt = nullptr;
            close_fd(true);
            return false;
        }
        fmt->pb = pb;
        fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
        packet = av_packet_alloc();
        return packet != nullptr;
    }

    static int write_fd(void* opaque, uint8_t* buf, int size)
    {
        auto* self = static_cast<muxer*>(opaque);
        int done = 0;
        while (done < size) {
            const ssize_t n = ::write(self->fd, buf + done, size_t(size - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return AVERROR(n < 0 ? errno : EIO);
            done += int(n);
        }
        return size;
    }

    static int64_t seek_fd(void* opaque, int64_t offset, int whence)
    {
        auto* self = static_cast<muxer*>(opaque);
        if (whence == AVSEEK_SIZE) {
            struct stat st;
            return ::fstat(self->fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
        }
        const off_t at = ::lseek(self->fd, off_t(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : int64_t(at);
    }

    void close_fd(bool remove)
    {
        if (fd < 0)
            return;
        ::close(fd);
        fd = -1;
        if (remove)
            std::remove(path.c_str());
    }

    bool begin(const std::vector<uint8_t>& sets, int w, int h, std::string* error)
    {
        width = w;
        height = h;
        AVStream* st = avformat_new_stream(fmt, nullptr);
        if (!st) {
            *error = "no stream";
            return false;
        }
        st->time_base = AVRational{1, 1000};
        // The pictures come at a variable rate, at least k_min_gap_ms apart.
        // Declared as the default frame duration, that step is the clock
        // of readers that assume a constant rate (ffmpeg's, for one);
        // otherwise they would take the rate the SPS claims, put two
        // pictures of a burst on one tick and reject the second.
        st->avg_frame_rate = AVRational{1000 / k_min_gap_ms, 1};
        AVCodecParameters* par = st->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_H264;
        par->width = w;
        par->height = h;
        // Annex B parameter sets: the muxer turns them into the codec private
        // data and the units into length-prefixed blocks.
        par->extradata = static_cast<uint8_t*>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) {
            *error = "out of memory";
            return false;
        }
        std::memcpy(par->extradata, sets.data(), sets.size());
        par->extradata_size = int(sets.size());
        av_dict_set(&fmt->metadata, "creation_time", utc_now_iso().c_str(), 0);
        const int rc = avformat_write_header(fmt, nullptr);
        if (rc < 0) {
            *error = av_error_text(rc);
            return false;
        }
        // The header on disk at once: the file shows that recording began.
        avio_flush(fmt->pb);
        header = true;
        parameter_sets = sets;
        return true;
    }

    bool write_pending(int64_t duration, std::string* error)
    {
        if (!has_pending)
            return true;
        has_pending = false;
        av_packet_unref(packet);
        packet->data = pending.data();
        packet->size = int(pending.size());
        packet->pts = packet->dts = pending_pts;
        packet->duration = duration;
        packet->stream_index = 0;
        packet->flags = pending_key ? AV_PKT_FLAG_KEY : 0;
        // The packet only borrows the bytes (no buffer reference): the
        // muxer copies what it keeps.
        const int rc = av_write_frame(fmt, packet);
        packet->data = nullptr;
        packet->size = 0;
        if (rc < 0) {
            *error = av_error_text(rc);
            return false;
        }
        return true;
    }

    // Writes the index and closes; a file that never got a picture is removed.
    bool close(bool keep_pending, std::string* error = nullptr)
    {
        bool ok = true;
        std::string reason;
        if (fmt) {
            if (header) {
                if (keep_pending && !broken)
                    ok = write_pending(last_duration > 0 ? last_duration : 1, &reason);
                const int rc = av_write_trailer(fmt);
                if (rc < 0 && ok) {
                    ok = false;
                    reason = av_error_text(rc);
                }
            }
            if (fmt->pb) {
                avio_flush(fmt->pb);
                if (fmt->pb->error < 0 && ok) {
                    ok = false;
                    reason = av_error_text(fmt->pb->error);
                }
                av_freep(&fmt->pb->buffer);
                avio_context_free(&fmt->pb);
            }
            avformat_free_context(fmt);
            fmt = nullptr;
        }
        close_fd(!header);
        av_packet_free(&packet);
        header = false;
        has_pending = false;
        if (error)
            *error = reason;
        return ok;
    }
};

c_stream_recorder::c_stream_recorder(size_t queue_limit) : m_queue_limit(queue_limit) {}

c_stream_recorder::~c_stream_recorder()
{
    stop();
}

void c_stream_recorder::set_notice(notice_fn fn)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_notice = std::move(fn);
}

std::string c_stream_recorder::file_name(int index) const
{
    return index <= 1 ? m_base + ".mkv" : m_base + "-" + std::to_string(index) + ".mkv";
}

bool c_stream_recorder::start(const std::string& base_path, std::string* error)
{
    if (m_writer.joinable()) {
        if (error)
            *error = "already recording";
        return false;
    }
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_base = base_path;
        m_files.clear();
        m_dropped = 0;
        m_queue.clear();
        m_queued_bytes = 0;
        m_gap = false;
        m_stopping = false;
    }
    m_bytes_written.store(0);
    // The first file is created now, so a directory that cannot be written
    // fails here, where the user started the recording.
    auto mux = std::make_unique<muxer>();
    std::string reason;
    if (!mux->open(m_base, 1, &reason)) {
        LOG_ERROR("recording: cannot create %s: %s", file_name(1).c_str(), reason.c_str());
        if (error)
            *error = reason;
        return false;
    }
    m_mux = std::move(mux);
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_running = true;
    }
    m_accepting.store(true);
    m_writer = std::thread([this] { run(); });
    return true;
}

void c_stream_recorder::mark_gap()
{
    std::lock_guard<std::mutex> g(m_lock);
    m_gap = true;
}

void c_stream_recorder::stop()
{
    m_accepting.store(false);
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_running = false;
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    m_mux.reset();
}

bool c_stream_recorder::recording() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_running;
}

void c_stream_recorder::push(const uint8_t* unit, int length, clock::time_point arrival)
{
    if (!unit || length <= 0 || !m_accepting.load(std::memory_order_relaxed))
        return;
    // The copy is made outside the lock; the parser reads a little past the
    // end, hence the zeroed padding.
    item it;
    it.data.resize(size_t(length) + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(it.data.data(), unit, size_t(length));
    it.length = size_t(length);
    it.arrival = arrival;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_running)
            return;
        if (m_queued_bytes + it.length > m_queue_limit) {
            ++m_dropped;
            m_gap = true;
            return;
        }
        it.after_gap = m_gap;
        m_gap = false;
        m_queued_bytes += it.length;
        m_queue.push_back(std::move(it));
    }
    m_wake.notify_one();
}

std::vector<std::string> c_stream_recorder::files() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_files;
}

uint64_t c_stream_recorder::dropped() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_dropped;
}

c_stream_recorder::unit_info c_stream_recorder::inspect(const uint8_t* unit, size_t length)
{
    unit_info info;
    if (!unit)
        return info;
    // NAL units start after 00 00 01 (a fourth leading zero belongs to the
    // start code too); each runs to the next start code.
    size_t i = 0;
    size_t nal_start = 0;
    bool in_nal = false;
    auto finish = [&](size_t end) {
        if (!in_nal || end <= nal_start)
            return;
        const uint8_t type = unit[nal_start] & 0x1f;
        if (type == NAL_IDR)
            info.idr = true;
        if (type == NAL_SPS || type == NAL_PPS) {
            (type == NAL_SPS ? info.sps : info.pps) = true;
            static const uint8_t start_code[4] = {0, 0, 0, 1};
            info.parameter_sets.insert(info.parameter_sets.end(), start_code, start_code + 4);
            info.parameter_sets.insert(info.parameter_sets.end(), unit + nal_start, unit + end);
        }
    };
    while (i + 3 <= length) {
        if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) {
            size_t end = i;
            while (end > nal_start && unit[end - 1] == 0)
                --end;  // trailing zeros and a 4-byte start code's first zero
            finish(end);
            i += 3;
            nal_start = i;
            in_nal = true;
            continue;
        }
        ++i;
    }
    finish(length);
    return info;
}

void c_stream_recorder::notify(notice::kind_t kind, const std::string& text)
{
    notice_fn fn;
    {
        std::lock_guard<std::mutex> g(m_lock);
        fn = m_notice;
    }
    if (fn)
        fn(notice{kind, text});
}

void c_stream_recorder::run()
{
    int file_index = 1;
    for (;;) {
        item it;
        {
            std::unique_lock<std::mutex> g(m_lock);
            m_wake.wait(g, [this] { return !m_queue.empty() || m_stopping; });
            if (m_queue.empty())
                break;  // stopping, and everything queued is written
            it = std::move(m_queue.front());
            m_queue.pop_front();
            m_queued_bytes -= it.length;
        }
        muxer& m = *m_mux;
        if (m.broken) {
            std::lock_guard<std::mutex> g(m_lock);
            ++m_dropped;
            continue;
        }
        if (it.after_gap)
            m.need_key = true;

        const unit_info info = inspect(it.data.data(), it.length);
        const bool key = info.idr && info.sps && info.pps;
        if (m.need_key && !key) {
            std::lock_guard<std::mutex> g(m_lock);
            ++m_dropped;
            continue;
        }

        std::string reason;
        int new_width = 0, new_height = 0;
        if (key && m.header && info.parameter_sets != m.parameter_sets &&
            picture_size(it.data.data(), it.length, &new_width, &new_height) &&
            (new_width != m.width || new_height != m.height)) {
            // A new picture size: the codec private data of a Matroska track
            // is fixed, so a new file takes it. Other changes of the
            // parameter sets travel in the key frames themselves. A stream
            // that changes size all the time would make a file a picture.
            if (it.arrival - m.origin < k_min_file_span) {
                std::string closing;
                if (!m.close(true, &closing))
                    LOG_ERROR("recording: closing %s: %s", m.path.c_str(), closing.c_str());
                m.broken = true;  // what follows is dropped until stop
                LOG_ERROR("recording: the picture size changes too often (%dx%d after %dx%d); recording stopped",
                          new_width, new_height, m.width, m.height);
                notify(notice::failed, "the picture size changes too often");
                continue;
            }
            std::string closing;
            if (!m.close(true, &closing))
                LOG_ERROR("recording: closing %s: %s", m.path.c_str(), closing.c_str());
            m_mux = std::make_unique<muxer>();
            ++file_index;
            if (!m_mux->open(m_base, file_index, &reason)) {
                m_mux->broken = true;
                LOG_ERROR("recording: cannot create %s: %s", file_name(file_index).c_str(), reason.c_str());
                notify(notice::failed, "cannot create " + file_name(file_index) + ": " + reason);
                continue;
            }
        }
        muxer& out = *m_mux;
        if (!out.header) {
            int width = 0, height = 0;
            if (!picture_size(it.data.data(), it.length, &width, &height)) {
                std::lock_guard<std::mutex> g(m_lock);
                ++m_dropped;
                continue;
            }
            if (!out.begin(info.parameter_sets, width, height, &reason)) {
                out.broken = true;
                LOG_ERROR("recording: %s: %s", out.path.c_str(), reason.c_str());
                notify(notice::failed, out.path + ": " + reason);
                continue;
            }
            out.origin = it.arrival;
            {
                std::lock_guard<std::mutex> g(m_lock);
                m_files.push_back(out.path);
            }
            LOG_INFO("recording: %s, %dx%d", out.path.c_str(), width, height);
            notify(notice::file_started, out.path);
        }
        out.need_key = false;

        int64_t pts = std::chrono::duration_cast<std::chrono::milliseconds>(it.arrival - out.origin).count();
        if (out.last_pts >= 0 && pts < out.last_pts + k_min_gap_ms)
            pts = out.last_pts + k_min_gap_ms;  // a burst after a stall
        if (!out.write_pending(pts - out.pending_pts, &reason)) {
            out.broken = true;
            LOG_ERROR("recording: writing %s: %s", out.path.c_str(), reason.c_str());
            notify(notice::failed, out.path + ": " + reason);
            continue;
        }
        m_bytes_written.fetch_add(it.length, std::memory_order_relaxed);
        if (out.last_pts >= 0)
            out.last_duration = pts - out.last_pts;
        out.last_pts = pts;
        it.data.resize(it.length);  // without the padding
        out.pending.swap(it.data);
        out.pending_pts = pts;
        out.pending_key = key;
        out.has_pending = true;
    }

    std::string reason;
    if (!m_mux->close(true, &reason))
        LOG_ERROR("recording: closing %s: %s", m_mux->path.c_str(), reason.c_str());
}
