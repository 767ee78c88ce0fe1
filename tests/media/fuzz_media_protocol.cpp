// Feeds arbitrary device messages to the media protocol handler while a disk
// image is mapped. Input: a sequence of (u16 big-endian length, body) records.
// The image must never change size, whatever the device sends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "thread/c_media_protocol.h"
#include "tools/socket/mt_queue.h"

namespace
{
const off_t kImageSize = 64 * 512;

std::string image_path()
{
    static std::string path = [] {
        char tmpl[] = "/tmp/kvm_fuzz_media_XXXXXX";
        const int fd = ::mkstemp(tmpl);
        if (fd < 0 || ::ftruncate(fd, kImageSize) != 0)
            abort();
        ::close(fd);
        return std::string(tmpl);
    }();
    static const bool cleanup_registered = [] { return std::atexit([] { ::unlink(path.c_str()); }) == 0; }();
    (void)cleanup_registered;
    return path;
}

c_media_protocol& protocol()
{
    static c_media_protocol* proto = [] {
        auto* p = new c_media_protocol();
        p->set_pauses({0, 0, 0});
        if (!p->map(image_path(), false))
            abort();
        return p;
    }();
    return *proto;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    c_media_protocol& proto = protocol();
    size_t pos = 0;
    while (pos + 2 <= size)
    {
        const size_t len = std::min<size_t>((size_t(data[pos]) << 8 | data[pos + 1]), size - pos - 2);
        pos += 2;
        const unsigned char r = proto.on_net_msg(nullptr, data + pos, static_cast<unsigned>(len),
                                                 static_cast<unsigned>(len));
        if (r != c_media_protocol::RESULT_OK && r != c_media_protocol::RESULT_REFUSE)
            abort();
        pos += len;
        // Play the send thread: everything queued is taken away.
        drain_and_free(proto.queue());
    }
    struct stat st;
    if (::stat(image_path().c_str(), &st) != 0 || st.st_size != kImageSize)
        abort();
    return 0;
}
