// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/build_info.h"

#include <QtGlobal>
#include <cstring>
#include <elf.h>
#include <link.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

#include "kvm_revision.h"

#ifndef KVM_VERSION
#define KVM_VERSION "0"
#endif

namespace {

std::string av_version(const char* name, unsigned v)
{
    return std::string(name) + " " + std::to_string(AV_VERSION_MAJOR(v)) + "." + std::to_string(AV_VERSION_MINOR(v)) +
           "." + std::to_string(AV_VERSION_MICRO(v));
}

// The executable's GNU build id (hex), which names its detached debug
// symbols (the -dbgsym package's /usr/lib/debug/.build-id/xx/yyyy.debug).
std::string build_id()
{
    std::string id;
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* out) -> int {
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& ph = info->dlpi_phdr[i];
                if (ph.p_type != PT_NOTE)
                    continue;
                const char* p = reinterpret_cast<const char*>(info->dlpi_addr + ph.p_vaddr);
                const char* end = p + ph.p_memsz;
                while (p + sizeof(ElfW(Nhdr)) <= end) {
                    const auto* n = reinterpret_cast<const ElfW(Nhdr)*>(p);
                    const char* name = p + sizeof(ElfW(Nhdr));
                    const char* desc = name + ((n->n_namesz + 3) & ~3u);
                    if (n->n_type == NT_GNU_BUILD_ID && n->n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0) {
                        static const char hex[] = "0123456789abcdef";
                        auto* s = static_cast<std::string*>(out);
                        for (unsigned k = 0; k < n->n_descsz; ++k) {
                            const unsigned char b = static_cast<unsigned char>(desc[k]);
                            *s += hex[b >> 4];
                            *s += hex[b & 15];
                        }
                        return 1;
                    }
                    p = desc + ((n->n_descsz + 3) & ~3u);
                }
            }
            return 1;  // only the executable itself, the first object
        },
        &id);
    return id;
}

}  // namespace

std::string build_info_text(const char* program)
{
    const char* slash = program ? std::strrchr(program, '/') : nullptr;
    const std::string name = slash ? slash + 1 : (program && *program ? program : "H264Video");
    // The libraries' own run-time answers: a distribution update changes
    // them without a rebuild, and a bug report needs the ones really loaded.
    std::string t = name + " " KVM_VERSION " (git " KVM_GIT_REVISION ")\n";
    const std::string id = build_id();
    if (!id.empty())
        t += "build id " + id + "\n";
    t += std::string("Qt ") + qVersion() + " (built with " QT_VERSION_STR ")\n";
    t += std::string("FFmpeg ") + av_version_info() + " (" + av_version("libavcodec", avcodec_version()) + ", " +
         av_version("libavformat", avformat_version()) + ", " + av_version("libavutil", avutil_version()) + ", " +
         av_version("libswscale", swscale_version()) + ")\n";
    return t;
}
