#pragma once
// A private temporary directory for targets that read and write real files,
// removed when the process ends. TMPDIR is honoured (fuzz.sh points it at a
// memory file system when there is one).
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_common.h"

namespace fuzz {

inline const std::string& temp_dir()
{
    // Never destroyed: the clean-up at exit runs after static destructors.
    static const std::string* dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        const std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvm_fuzz_XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data()))
            fail("no temporary directory");
        const std::string* made = new std::string(buf.data());
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(temp_dir(), ec);
        });
        return made;
    }();
    return *dir;
}

}  // namespace fuzz
