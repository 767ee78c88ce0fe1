#include "tools/decoder/c_conversion_buffer.h"

#include "log/log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

[[noreturn]] void out_of_picture_memory()
{
    std::printf("av malloc failed!\n");
    std::fflush(stdout);
    std::exit(1);
}

// Each image made over the block holds one reference to it, released when
// the last copy of that image goes away.
void release_block(void* info)
{
    delete static_cast<std::shared_ptr<uint8_t[]>*>(info);
}

void release_own(void* info)
{
    delete[] static_cast<uint8_t*>(info);
}

} // namespace

c_conversion_buffer::c_conversion_buffer()
{
    uint8_t* block = new (std::nothrow) uint8_t[size_t(k_capacity)];
    if (!block)
        out_of_picture_memory();
    m_block.reset(block);
    m_capacity = k_capacity;
}

bool c_conversion_buffer::fits(int width, int height)
{
    return width > 0 && height > 0 && width <= k_max_width && height <= k_max_height;
}

int c_conversion_buffer::stride_for(int width)
{
    return int((int64_t(width) * 4 + 63) & ~int64_t(63));
}

bool c_conversion_buffer::slots_free() const
{
    for (int i = 0; i < m_slot_count; ++i) {
        if (!m_slots[i].image.isDetached())
            return false;
    }
    return true;
}

void c_conversion_buffer::cut_slots(int width, int height)
{
    for (slot& s : m_slots)
        s = slot();
    // Slots start on 64-byte boundaries for the converter's vector stores,
    // each followed by the converter's spill-over room.
    const int stride = stride_for(width);
    const int64_t bytes = int64_t(stride) * height;
    const int64_t step = (bytes + k_tail + 63) & ~int64_t(63);
    if (step + bytes + k_tail > m_capacity) {
        // A larger picture than any before: a larger block. Images over the
        // old one keep it alive until they are gone.
        const int64_t capacity = step + bytes + k_tail;
        m_block.reset();
        uint8_t* block = new (std::nothrow) uint8_t[size_t(capacity)];
        if (!block)
            out_of_picture_memory();
        m_block.reset(block);
        m_capacity = capacity;
    }
    m_slot_count = 2;
    // Both slots are touched now, once per size, so that no picture of the
    // stream faults their pages in while it is converted.
    std::memset(m_block.get(), 0, size_t(step + bytes));
    for (int i = 0; i < m_slot_count; ++i) {
        uint8_t* p = m_block.get() + i * step;
        m_slots[i].pixels = p;
        m_slots[i].image = QImage(p, width, height, stride, QImage::Format_RGB32, release_block,
                                  new std::shared_ptr<uint8_t[]>(m_block));
    }
    m_width = width;
    m_height = height;
    m_last = 0;
}

c_conversion_buffer::picture c_conversion_buffer::acquire(int width, int height)
{
    picture out;
    std::lock_guard<std::mutex> g(m_lock);
    if (!fits(width, height)) {
        LOG_ERROR("picture %dx%d exceeds the largest picture shown, %dx%d", width, height, k_max_width,
                  k_max_height);
        return out;
    }

    if ((width != m_width || height != m_height) && slots_free())
        cut_slots(width, height);

    if (width == m_width && height == m_height) {
        for (int n = 0; n < m_slot_count; ++n) {
            // The slot written last comes first: once the GUI has let go
            // of it, its memory is the likeliest still to be in the cache.
            slot& s = m_slots[(m_last + n) % m_slot_count];
            if (s.image.isDetached()) {
                // Whoever dropped the last other copy did so before this
                // point; do not let the writes below move ahead of that.
                std::atomic_thread_fence(std::memory_order_acquire);
                m_last = (m_last + n) % m_slot_count;
                out.image = s.image;
                out.pixels = s.pixels;
                out.stride = int(s.image.bytesPerLine());
                return out;
            }
        }
    }

    ++m_outside;
    const int stride = stride_for(width);
    uint8_t* own = new (std::nothrow) uint8_t[size_t(int64_t(stride) * height + k_tail)];
    if (!own)
        out_of_picture_memory();
    out.image = QImage(own, width, height, stride, QImage::Format_RGB32, release_own, own);
    if (out.image.isNull())
        out_of_picture_memory();
    out.pixels = own;
    out.stride = stride;
    return out;
}
