// config.xml as a real file: load the mouse sample rate, save a rate, load again.
//
// Invariants: a rate is only taken when it is positive, otherwise the old one
// stays; a saved rate loads back as itself; a save that fails leaves the file's
// bytes untouched.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_common.h"
#include "fuzz_temp_dir.h"
#include "ui/c_config_file.h"

namespace {

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::temp_dir() + "/config.xml";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        FUZZ_CHECK(out.good());
    }
    const QString qpath = QString::fromStdString(path);

    const int32_t kept = 77;
    int32_t rate = kept;
    c_config_file file(qpath);
    const bool loaded = file.load(rate);
    FUZZ_CHECK(loaded ? rate > 0 : rate == kept);

    const int32_t wanted = loaded ? (rate % 100) + 1 : 33;
    const std::string before = std::string(reinterpret_cast<const char*>(data), size);
    c_config_file writer(qpath);
    if (!writer.save(wanted)) {
        FUZZ_CHECK(read_all(path) == before);
        return 0;
    }
    int32_t back = kept;
    c_config_file reader(qpath);
    FUZZ_CHECK(reader.load(back));
    FUZZ_CHECK(back == wanted);
    return 0;
}
