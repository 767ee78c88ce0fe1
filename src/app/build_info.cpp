// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/build_info.h"

#include <QtGlobal>
#include <cstring>

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

}  // namespace

std::string build_info_text(const char* program)
{
    const char* slash = program ? std::strrchr(program, '/') : nullptr;
    const std::string name = slash ? slash + 1 : (program && *program ? program : "H264Video");
    // The libraries' own run-time answers: a distribution update changes
    // them without a rebuild, and a bug report needs the ones really loaded.
    std::string t = name + " " KVM_VERSION " (git " KVM_GIT_REVISION ")\n";
    t += std::string("Qt ") + qVersion() + " (built with " QT_VERSION_STR ")\n";
    t += std::string("FFmpeg ") + av_version_info() + " (" + av_version("libavcodec", avcodec_version()) + ", " +
         av_version("libavformat", avformat_version()) + ", " + av_version("libavutil", avutil_version()) + ", " +
         av_version("libswscale", swscale_version()) + ")\n";
    return t;
}
