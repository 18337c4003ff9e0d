// Fuzz target for the INI store: any file content is read and rewritten
// without crashing, and a written key reads back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "common/ini_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // On tmpfs when /tmp is (as under the isolation wrapper): no disk in the loop.
    static const std::string path = [] {
        char tmpl[] = "/tmp/tavik-ini-fuzz-XXXXXX";
        std::string dir = ::mkdtemp(tmpl);
        return dir + "/fuzz.ini";
    }();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    // Section and key names taken from the input itself.
    std::string name(reinterpret_cast<const char*>(data), size < 8 ? size : 8);
    (void)tavik::profileGetInt(name, name, 7, path);
    (void)tavik::profileGetString("Ports", "Com1", "", path);
    (void)tavik::profileGetSection(name, path);
    (void)tavik::profileSectionNames(path);
    // A write costs a lock, a temporary file, an fsync and a rename besides its parse: one input
    // in four (chosen by its last byte) takes that path, so the parser runs more often per second.
    if (size == 0 || (data[size - 1] & 3) != 0) return 0;
    if (tavik::profileWriteString("Fuzz", "Key", "value", path)) {
        if (tavik::profileGetString("fuzz", "key", "", path) != "value") std::abort();
    }
    (void)tavik::profileDeleteKey(name, name, path);
    return 0;
}
