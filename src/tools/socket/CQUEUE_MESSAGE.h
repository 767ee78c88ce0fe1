#pragma once
// One queued outgoing frame. Laid out with 1-byte packing; copying copies the
// data pointer, not the buffer. The buffer (allocated with new[]) belongs to
// the message until it is sent; whoever sends or drops it calls free_data()
// on exactly one copy.
//
// Members are unaligned: read them by value (copy to a local or cast, e.g.
// uint32_t(msg.length)) rather than binding a reference, such as the const&
// parameters of std::min or EXPECT_EQ, which the sanitizers reject.
//
// The tag is a fixed character array (not a string object) so that the packed
// record stays trivially copyable and never calls members of a misaligned
// object.
#include <cstdint>

#pragma pack(push, 1)
struct CQUEUE_MESSAGE
{
    enum { TAG_SIZE = 24 };

    uint32_t length;     // valid bytes in data, frame header included
    uint8_t* data;       // new[] buffer, or null when nothing was built
    uint8_t last_flag;   // last-of-batch flag (media); 0 for video messages
    char tag[TAG_SIZE];  // "notU", "noUse" or "pak10_ss_zzz", NUL-terminated
    int32_t reserved;    // -1, unused
    uint8_t reserved_b;  // 0, unused
    uint32_t ack_status; // 0 when built; 2 accepted, 4 refused (set_ack)

    CQUEUE_MESSAGE();
    CQUEUE_MESSAGE(uint32_t len, uint8_t* buf, uint8_t flag, const char* tag_text, int32_t reserved_word = -1);

    void set_tag(const char* text);  // truncated to TAG_SIZE - 1
    bool empty() const { return data == nullptr || length == 0; }
    // delete[] data and clear data/length.
    void free_data();
};
#pragma pack(pop)
