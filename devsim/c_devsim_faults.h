#pragma once
// A broken or hostile device, on command: what the viewer must survive.
// Each fault is injected on the current connection of one channel (see
// devsim/README.md, "Faults"):
//
//   close-header     the first bytes of a frame header, then the connection closes
//   close-body       a header and half its body, then the connection closes
//   reset            the connection is aborted (RST)
//   length-ffffffff  a header whose wire length is 0xFFFFFFFF, then a few body bytes
//   claim-4g         a type-6 message whose payload length field says 0xFFFFFFFF
//   garbage [N [S]]  N (10000) frames of garbage from seed S, on a thread of the channel
//   stall            a header and half its body, then nothing more on that connection
//   mute             nothing more is sent on that connection (media: no acknowledgement)
//   wish read|write START COUNT   (media) the next status request is answered with this wish
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class c_devsim;
class c_devsim_channel;

class c_devsim_faults
{
public:
    enum class channel_kind
    {
        video,
        km,
        media
    };

    explicit c_devsim_faults(c_devsim& dev);

    // The words after "fault": CHANNEL KIND [ARGS]. Returns the reply line.
    QString command(const QStringList& words);
    static QString usage();

    // One well-formed frame of the channel as the device would send it
    // (video: a type-6 message; KM: an enciphered answer; media: a write-data
    // message), for cutting in the middle.
    std::vector<uint8_t> sample_frame(channel_kind kind) const;
    // A type-6 message that claims 0xFFFFFFFF payload bytes but carries 64.
    std::vector<uint8_t> claim_4g(channel_kind kind) const;
    // A frame header announcing 0xFFFFFFFF body bytes, and 16 of them.
    static std::vector<uint8_t> huge_length();

    // Garbage, one frame at a time: random bytes that are no frame before
    // some of them, wrong checksums, bodies of random types and lengths,
    // enciphered or not. Every frame's length fields are honest, so the
    // viewer stays in step and sees every one. Never a message the device
    // may legitimately use to change the session (privilege on KM, LEDs on
    // video, status answers and sector writes on media): those are faults
    // of their own.
    class garbage
    {
    public:
        garbage(channel_kind kind, uint64_t seed, const uint8_t* key8);
        std::vector<uint8_t> next();

    private:
        uint32_t rnd();
        uint32_t below(uint32_t n) { return n ? rnd() % n : 0; }
        void junk(std::vector<uint8_t>& out);
        std::vector<uint8_t> body();
        std::vector<uint8_t> video_body();
        std::vector<uint8_t> frame_of(const std::vector<uint8_t>& body, bool bad_checksum);

        channel_kind m_kind;
        uint64_t m_state;
        const uint8_t* m_key;
    };

private:
    c_devsim_channel* channel(channel_kind kind) const;

    c_devsim& m_dev;
};
