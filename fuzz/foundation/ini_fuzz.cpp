// Fuzz target for the INI store: any file content is parsed, queried, edited
// and written back from memory; the written text parses to the same lines, and
// a written key reads back. One input in 64 also goes through the files
// themselves (read, locked rewrite, delete), whose per-call cost is system calls.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

#include "common/ini_document.h"
#include "common/ini_store.h"

namespace {

void throughFiles(const uint8_t* data, size_t size, const std::string& name) {
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
    (void)tavik::profileGetInt(name, name, 7, path);
    (void)tavik::profileGetSection(name, path);
    (void)tavik::profileSectionNames(path);
    if (tavik::profileWriteString("Fuzz", "Key", "value", path)) {
        if (tavik::profileGetString("fuzz", "key", "", path) != "value") std::abort();
    }
    (void)tavik::profileDeleteKey(name, name, path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavik;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Section and key names taken from the input itself.
    const std::string name(text.substr(0, 8));

    ini::Document doc = ini::parse(text);
    (void)ini::getInt(doc, name, name, 7);
    (void)ini::getString(doc, "Ports", "Com1", "");
    (void)ini::getSection(doc, name);
    const auto sections = ini::sectionNames(doc);

    // What a store writes reads back as the same document.
    const std::string written = ini::format(doc);
    const ini::Document reread = ini::parse(written);
    if (ini::format(reread) != written || ini::sectionNames(reread) != sections) std::abort();

    // Edits: a written key reads back, from the document and from its text.
    if (!ini::setString(doc, "Fuzz", "Key", "value")) std::abort();
    if (ini::getString(doc, "fuzz", "key", "") != "value") std::abort();
    if (ini::getString(ini::parse(ini::format(doc)), "FUZZ", "KEY", "") != "value") std::abort();
    (void)ini::setString(doc, name, name, text.substr(size / 2));
    if (!ini::deleteKey(doc, "Fuzz", "Key")) std::abort();
    (void)ini::deleteKey(doc, name, name);

    if (size > 0 && (data[size - 1] & 63) == 0) throughFiles(data, size, name);
    return 0;
}
