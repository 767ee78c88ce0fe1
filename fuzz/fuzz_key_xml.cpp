// key.xml as a real file: load, save the loaded map back, load again.
//
// Invariants: a file that does not load leaves the map as it was; one without
// a root or "common" empties it; whatever was loaded and saved loads again as
// the same map; a save that fails leaves the file's bytes untouched.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_common.h"
#include "fuzz_temp_dir.h"
#include "ui/c_key_file.h"

namespace {

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_all(const std::string& path, const uint8_t* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    FUZZ_CHECK(out.good());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::temp_dir() + "/key.xml";
    write_all(path, data, size);
    const QString qpath = QString::fromStdString(path);

    SysKeyMap before;
    before.insert(QStringLiteral("sentinel"), {SYSTEMKEYINFO{QStringLiteral("A"), 0x41}});
    SysKeyMap map = before;
    c_key_file file(qpath);
    if (!file.load(map)) {
        FUZZ_CHECK(map == before || map.isEmpty());
        // Saving into a file that did not load (or has no "common") writes nothing.
        c_key_file other(qpath);
        FUZZ_CHECK(!other.save(before));
        FUZZ_CHECK(read_all(path) == std::string(reinterpret_cast<const char*>(data), size));
        return 0;
    }

    const std::string original = read_all(path);
    if (!file.save(map)) {
        FUZZ_CHECK(read_all(path) == original);
        return 0;
    }
    SysKeyMap again;
    c_key_file reread(qpath);
    FUZZ_CHECK(reread.load(again));
    FUZZ_CHECK(again == map);
    return 0;
}
