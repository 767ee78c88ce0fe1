#ifndef KVM_TOOLS_DECODER_C_PICTURE_SCALER_H
#define KVM_TOOLS_DECODER_C_PICTURE_SCALER_H

#include <cstdint>

struct AVFrame;
struct SwsContext;

// Converts a decoded picture to 32-bit BGRA (QImage::Format_RGB32 on this
// little-endian platform) at the size it occupies on screen, straight into
// the memory the view paints: no full-size RGB picture is ever made. The
// contexts are kept while the source size and format and the target size
// stay the same.
//
// Scaling uses libswscale's bilinear filter: on reduction its kernel widens
// with the factor, so every source pixel contributes and thin remote text
// stays readable instead of losing strokes as with nearest or two-tap
// sampling; on enlargement it interpolates between neighbours. Bicubic and
// Lanczos cost about half as much again for little visible gain at the
// factors a window gives (0.4 to 2).
//
// A scaled 4:2:0 picture is scaled in its own planes to the target size
// first and then converted at that size: libswscale's filtered output to
// packed RGB is its slow stage, and measured side by side the two stages
// cost 0.72 to 0.82 of the single filtered call (1080p into 640x360 up to
// 2560x1440). Same size, or another source format: one plain call. Fed in
// bands, both stages follow each band.
class c_picture_scaler
{
public:
    static constexpr int k_scaled_filter = 2;  // SWS_BILINEAR
    static constexpr int k_unscaled_filter = 1; // SWS_FAST_BILINEAR (no filtering at 1:1)

    c_picture_scaler() = default;
    ~c_picture_scaler();

    c_picture_scaler(const c_picture_scaler&) = delete;
    c_picture_scaler& operator=(const c_picture_scaler&) = delete;

    // Writes picture, scaled to width x height, as BGRA rows of dst_stride
    // bytes from dst. False when there is no converter for it.
    bool convert(const AVFrame* picture, uint8_t* dst, int dst_stride, int width, int height);

    // The same conversion fed a band of rows at a time, so that it can follow
    // a picture while it is being decoded: rows [y, y + rows) of picture,
    // bands in order from y = 0 without gaps, each ending on an even row
    // except the last. The output is the same as convert()'s; it is complete
    // once the band ending at picture->height returned true.
    bool convert_rows(const AVFrame* picture, int y, int rows, uint8_t* dst, int dst_stride, int width, int height);

    // Makes the contexts and the memory between the stages for pictures
    // like picture (its size and format) at width x height ahead of the
    // first conversion, which is then no slower than the next.
    bool prepare(const AVFrame* picture, int width, int height);

    // How many contexts were made so far (a new one per change of sizes).
    int contexts_made() const { return m_made; }

private:
    void reset();

    SwsContext* m_context = nullptr;  // source -> BGRA, or the planes' scaling
    SwsContext* m_to_bgra = nullptr;  // scaled planes -> BGRA, when two stages
    AVFrame* m_planes = nullptr;      // the scaled planes between the stages
    int m_src_w = 0, m_src_h = 0, m_src_format = -1, m_dst_w = 0, m_dst_h = 0;
    int m_made = 0;
    int m_fed = 0;     // source rows given so far for the picture under way
    int m_written = 0; // output rows the first stage has written for it
    int m_converted = 0; // of those, rows given to the second stage
    int m_bgra_written = 0; // and BGRA rows it has written
};

#endif
