#ifndef KVM_TOOLS_RECORD_C_STREAM_RECORDER_H
#define KVM_TOOLS_RECORD_C_STREAM_RECORDER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Writes the H.264 access units of the live stream, as they arrive, into
// Matroska files with libavformat: no decoding, no re-encoding.
//
// The video receive thread calls push() with each complete Annex B access
// unit and the time it arrived; push() only copies the unit into a queue, so
// the receive thread never waits for the disk. A writer thread of the
// recorder's own empties the queue into the file. The queue is bounded: when
// the disk cannot keep up, units are dropped and the file goes on from the
// next key frame (a file with a hole in a group of pictures would not decode).
//
// A file starts at a key frame (an IDR picture with its SPS and PPS); what
// comes before the first one is dropped. Time stamps are the arrival times in
// milliseconds from the file's first picture (steady clock; the wall-clock
// start is the file's creation time), at least 2 ms apart so that a burst
// after a stall keeps its order for every reader. When the picture size
// changes, the current file is closed and the next one starts with that key
// frame under the next free name: base.mkv, base-2.mkv, base-3.mkv ... (at
// most one new file per 10 s; a stream that changes size faster ends the
// recording with a failure notice). A break in the stream (the video
// connection lost and made again) goes on in the same file from the next key
// frame; the time stamps keep the real time between.
//
// start() and stop() are for one controlling thread (the GUI); push() for
// one producer. Every member is safe to call concurrently with push().
class c_stream_recorder
{
public:
    using clock = std::chrono::steady_clock;

    struct notice
    {
        enum kind_t
        {
            file_started,  // text: the path of the new file
            failed         // text: the reason; the recording has ended writing
        } kind;
        std::string text;
    };
    // Called on the writer thread.
    using notice_fn = std::function<void(const notice&)>;

    // Units waiting for the writer beyond this many bytes are dropped.
    static constexpr size_t k_default_queue_limit = size_t(64) << 20;

    explicit c_stream_recorder(size_t queue_limit = k_default_queue_limit);
    ~c_stream_recorder();

    c_stream_recorder(const c_stream_recorder&) = delete;
    c_stream_recorder& operator=(const c_stream_recorder&) = delete;

    void set_notice(notice_fn fn);

    // Starts a recording into base_path + ".mkv" (the directory must exist).
    // False, with the reason in *error, when one is running already or the
    // file cannot be created.
    bool start(const std::string& base_path, std::string* error);

    // Writes what is queued, closes the file with its index and ends the
    // writer thread. Nothing happens when no recording runs.
    void stop();

    bool recording() const;

    // Producer: one complete Annex B access unit.
    void push(const uint8_t* unit, int length, clock::time_point arrival);
    // The stream broke off (its connection was lost): what comes next is
    // written from its first key frame on.
    void mark_gap();
    // Bytes of pictures written into the files of this recording.
    uint64_t bytes_written() const { return m_bytes_written.load(std::memory_order_relaxed); }

    // The files of this (or the last) recording, oldest first.
    std::vector<std::string> files() const;
    // Units dropped: before the first key frame, after an overflow, or
    // because writing failed.
    uint64_t dropped() const;

    // What an access unit holds, from its NAL unit types.
    struct unit_info
    {
        bool idr = false;
        bool sps = false;
        bool pps = false;
        // The SPS and PPS NAL units with their start codes, in stream order.
        std::vector<uint8_t> parameter_sets;
    };
    static unit_info inspect(const uint8_t* unit, size_t length);

private:
    struct item
    {
        std::vector<uint8_t> data;  // the unit and zeroed padding
        size_t length = 0;
        clock::time_point arrival;
        bool after_gap = false;  // units before this one were dropped
    };
    struct muxer;

    void run();
    void write_unit(muxer& m, const item& it);
    void notify(notice::kind_t kind, const std::string& text);
    std::string file_name(int index) const;

    const size_t m_queue_limit;

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<item> m_queue;
    size_t m_queued_bytes = 0;
    bool m_running = false;   // accepting units
    bool m_stopping = false;  // writer: drain and end
    bool m_gap = false;       // the next queued unit follows dropped ones
    std::string m_base;
    std::vector<std::string> m_files;
    uint64_t m_dropped = 0;
    notice_fn m_notice;

    std::atomic<bool> m_accepting{false};  // cheap check before the copy
    std::atomic<uint64_t> m_bytes_written{0};
    std::unique_ptr<muxer> m_mux;           // the writer thread's while it runs
    std::thread m_writer;
};

#endif
