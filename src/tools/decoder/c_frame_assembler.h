#ifndef KVM_TOOLS_DECODER_C_FRAME_ASSEMBLER_H
#define KVM_TOOLS_DECODER_C_FRAME_ASSEMBLER_H

#include <cstdint>
#include <memory>

// Joins the payloads of type-6 video messages into whole H.264 access units.
// Body layout: byte 1 is the last-fragment flag (1 ends a picture, any other
// value means more follow), the payload starts at byte 12.
//
// A unit longer than the capacity is dropped with an error line: the rest of
// its fragments are skipped up to its last one, so the assembler starts empty
// again with the next picture instead of decoding a headless tail.
class c_frame_assembler
{
public:
    static constexpr int k_default_capacity = 524288;
    static constexpr int k_header_length = 12;

    explicit c_frame_assembler(int capacity = k_default_capacity);

    c_frame_assembler(const c_frame_assembler&) = delete;
    c_frame_assembler& operator=(const c_frame_assembler&) = delete;

    // Returns one complete access unit and sets *unit_length, or null while
    // fragments are missing (or the unit was dropped). A picture that comes
    // in a single fragment is returned in place inside body, without a copy;
    // otherwise the pointer is valid until the next call.
    const uint8_t* add(const uint8_t* body, int length, int* unit_length);

    // Bytes buffered for the unit being assembled.
    int filled() const { return m_filled; }
    int capacity() const { return m_capacity; }

private:
    int m_capacity;
    std::unique_ptr<uint8_t[]> m_buffer;
    int m_filled = 0;
    bool m_discarding = false; // inside a unit that has overflowed
};

#endif
