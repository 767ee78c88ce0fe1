#ifndef KVM_TOOLS_DECODER_C_CONVERSION_BUFFER_H
#define KVM_TOOLS_DECODER_C_CONVERSION_BUFFER_H

#include <QImage>

#include <cstdint>
#include <memory>
#include <mutex>

// The memory decoded pictures are converted into: one block of at least
// 32 MiB, allocated once per channel start and grown (never shrunk) when a
// larger picture comes, handed out as pictures of 4-byte pixels that the
// view paints without a copy.
//
// The view may still be showing the previous picture while the next one is
// converted, so the block holds two slots of the picture's size, and a slot
// is only written once every image referring to it is gone. When no slot is
// free (the view keeping old pictures) the picture gets memory of its own
// instead. Images keep their block alive, so they stay valid after this
// object is destroyed or the block is replaced.
class c_conversion_buffer
{
public:
    // The block's smallest size; it grows to two slots of the largest
    // picture converted, up to k_max_width x k_max_height.
    static constexpr int64_t k_capacity = 33554432;
    static constexpr int k_max_width = 8192;
    static constexpr int k_max_height = 4320;
    // Bytes kept free behind every picture: libswscale's vector code converts
    // whole blocks of pixels and writes past the end of a row whose width is
    // not a multiple of 16 (up to 56 bytes measured), so the last row of a
    // picture would spill into the next picture or beyond its allocation.
    static constexpr int64_t k_tail = 256;

    struct picture
    {
        QImage image;             // Format_RGB32, shares the pixels below
        uint8_t* pixels = nullptr;
        int stride = 0;
    };

    c_conversion_buffer();

    c_conversion_buffer(const c_conversion_buffer&) = delete;
    c_conversion_buffer& operator=(const c_conversion_buffer&) = delete;

    // True when a width x height picture is within the size limit.
    static bool fits(int width, int height);

    // Bytes per row of a width x height picture: the width rounded up to 16
    // pixels. libswscale's vector code converts rows in blocks of 8 pixels and,
    // when the row stride has no room for the last block, leaves the last
    // pixels of every row unconverted (6 columns at 1366 wide).
    static int stride_for(int width);

    // Memory for the next picture, not referenced by any image handed out
    // before. Null image (and an error line) when the size does not fit.
    // Any thread: the GUI and the decoding thread both convert.
    picture acquire(int width, int height);

    // How many pictures so far needed memory outside the block.
    int outside_count() const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_outside;
    }

    // Bytes of the current block.
    int64_t capacity() const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_capacity;
    }

private:
    struct slot
    {
        QImage image;
        uint8_t* pixels = nullptr;
    };

    bool slots_free() const;
    void cut_slots(int width, int height);

    mutable std::mutex m_lock;
    std::shared_ptr<uint8_t[]> m_block;
    int64_t m_capacity = 0;
    slot m_slots[2];
    int m_slot_count = 0;
    int m_width = 0;
    int m_height = 0;
    int m_last = 0;
    int m_outside = 0;
};

#endif
