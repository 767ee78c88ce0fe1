#pragma once
// The reference for the video benchmarks: libavcodec decoding access units
// and libswscale converting each picture to BGRA in a buffer allocated once,
// nothing else. Threads are set like the viewer's decoder, so a comparison
// shows only what the viewer adds (sockets, framing, hand-over, GUI).
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <vector>

#include "bench_figures.h"

namespace bench {

class reference_decoder
{
public:
    struct timing
    {
        std::vector<double> decode_ms;   // send + receive per unit
        std::vector<double> convert_ms;  // to BGRA per picture
    };

    // codec_threads: libavcodec's thread_count (0 = as many as it likes, slice
    // threads); convert_threads: libswscale's threads (1 = the calling thread).
    reference_decoder(int codec_threads, int convert_threads)
        : m_codec_threads(codec_threads), m_convert_threads(convert_threads)
    {
    }
    ~reference_decoder() { close(); }

    reference_decoder(const reference_decoder&) = delete;
    reference_decoder& operator=(const reference_decoder&) = delete;

    bool open()
    {
        close();
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        if (!codec)
            return false;
        m_ctx = avcodec_alloc_context3(codec);
        if (!m_ctx)
            return false;
        m_ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
        m_ctx->thread_type = FF_THREAD_SLICE;
        m_ctx->thread_count = m_codec_threads;
        if (avcodec_open2(m_ctx, codec, nullptr) != 0)
            return false;
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        return m_frame && m_packet;
    }

    // Decodes one unit and converts the picture it gave; true when a picture came out.
    bool decode(const uint8_t* data, int size, timing* t = nullptr)
    {
        const auto t0 = clock::now();
        m_packet->data = const_cast<uint8_t*>(data);
        m_packet->size = size;
        const int rc = avcodec_send_packet(m_ctx, m_packet);
        m_packet->data = nullptr;
        m_packet->size = 0;
        if (rc < 0)
            return false;
        bool produced = false;
        while (avcodec_receive_frame(m_ctx, m_frame) == 0) {
            const auto t1 = clock::now();
            if (t)
                t->decode_ms.push_back(ms_between(t0, t1));
            produced = convert() || produced;
            if (t)
                t->convert_ms.push_back(ms_between(t1, clock::now()));
        }
        if (produced)
            ++m_pictures;
        return produced;
    }

    int pictures() const { return m_pictures; }
    // Threads libavcodec really runs (after open()).
    int codec_threads() const { return m_ctx ? m_ctx->thread_count : 0; }
    const uint8_t* pixels() const { return m_bgra.data(); }

    void close()
    {
        sws_freeContext(m_sws);
        m_sws = nullptr;
        av_packet_free(&m_packet);
        av_frame_free(&m_frame);
        avcodec_free_context(&m_ctx);
        m_pictures = 0;
    }

private:
    bool convert()
    {
        const int w = m_frame->width;
        const int h = m_frame->height;
        if (w != m_w || h != m_h || m_frame->format != m_fmt) {
            sws_freeContext(m_sws);
            m_sws = sws_alloc_context();
            av_opt_set_int(m_sws, "srcw", w, 0);
            av_opt_set_int(m_sws, "srch", h, 0);
            av_opt_set_int(m_sws, "src_format", m_frame->format, 0);
            av_opt_set_int(m_sws, "dstw", w, 0);
            av_opt_set_int(m_sws, "dsth", h, 0);
            av_opt_set_int(m_sws, "dst_format", AV_PIX_FMT_BGRA, 0);
            av_opt_set_int(m_sws, "sws_flags", SWS_FAST_BILINEAR, 0);
            av_opt_set_int(m_sws, "threads", m_convert_threads, 0);
            if (sws_init_context(m_sws, nullptr, nullptr) < 0) {
                sws_freeContext(m_sws);
                m_sws = nullptr;
                return false;
            }
            m_w = w;
            m_h = h;
            m_fmt = m_frame->format;
            m_bgra.assign(size_t(w) * size_t(h) * 4, 0);
            m_out.reset();
        }
        if (m_convert_threads == 1) {
            uint8_t* planes[4] = {m_bgra.data(), nullptr, nullptr, nullptr};
            int strides[4] = {m_w * 4, 0, 0, 0};
            return sws_scale(m_sws, m_frame->data, m_frame->linesize, 0, m_h, planes, strides) == m_h;
        }
        // Threaded conversion goes through the frame interface; the output
        // frame borrows the buffer allocated above.
        AVFrame* dst = m_out.get(m_bgra.data(), m_w, m_h);
        return sws_scale_frame(m_sws, dst, m_frame) >= 0;
    }

    // An output frame over memory owned elsewhere.
    struct borrowed_frame
    {
        AVFrame* frame = nullptr;
        ~borrowed_frame() { reset(); }
        void reset() { av_frame_free(&frame); }
        AVFrame* get(uint8_t* pixels, int w, int h)
        {
            if (!frame) {
                frame = av_frame_alloc();
                frame->buf[0] = av_buffer_create(pixels, size_t(w) * size_t(h) * 4, [](void*, uint8_t*) {},
                                                 nullptr, 0);
                frame->data[0] = pixels;
                frame->linesize[0] = w * 4;
                frame->width = w;
                frame->height = h;
                frame->format = AV_PIX_FMT_BGRA;
            }
            return frame;
        }
    };

    int m_codec_threads;
    int m_convert_threads;
    AVCodecContext* m_ctx = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_sws = nullptr;
    int m_w = 0;
    int m_h = 0;
    int m_fmt = -1;
    std::vector<uint8_t> m_bgra;
    borrowed_frame m_out;
    int m_pictures = 0;
};

}  // namespace bench
