#ifndef KVM_TOOLS_DECODER_C_CONVERSION_BUFFER_H
#define KVM_TOOLS_DECODER_C_CONVERSION_BUFFER_H

#include <QImage>

#include <cstdint>
#include <memory>

// The memory decoded pictures are converted into: one 32 MiB block,
// allocated once per channel start, handed out as pictures of 4-byte pixels
// that the GUI thread receives without a copy.
//
// The GUI may still be showing the previous picture while the next one is
// converted, so the block is cut into two slots when two pictures fit, and a
// slot is only written once every image referring to it is gone.
// When no slot is free (a picture over 16 MiB still being shown, or the GUI
// keeping old pictures) the picture gets memory of its own instead. Images
// keep the block alive, so they stay valid after this object is destroyed.
class c_conversion_buffer
{
public:
    static constexpr int64_t k_capacity = 33554432;
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

    // True when a width x height picture fits the buffer at all.
    static bool fits(int width, int height);

    // Bytes per row of a width x height picture: the width rounded up to 16
    // pixels. libswscale's vector code converts rows in blocks of 8 pixels and,
    // when the row stride has no room for the last block, leaves the last
    // pixels of every row unconverted (6 columns at 1366 wide). Tightly
    // packed only when the padded picture would not fit.
    static int stride_for(int width, int height);

    // Memory for the next picture, not referenced by any image handed out
    // before. Null image (and an error line) when the size does not fit.
    picture acquire(int width, int height);

    // How many pictures so far needed memory outside the block.
    int outside_count() const { return m_outside; }

private:
    struct slot
    {
        QImage image;
        uint8_t* pixels = nullptr;
    };

    bool slots_free() const;
    void cut_slots(int width, int height);

    std::shared_ptr<uint8_t[]> m_block;
    slot m_slots[2];
    int m_slot_count = 0;
    int m_width = 0;
    int m_height = 0;
    int m_last = 0;
    int m_outside = 0;
};

#endif
