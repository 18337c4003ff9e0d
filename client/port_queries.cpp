// Queries on a port: gdQueryEquipment(W), gdGetPortInfo, gdGetEntriesCount,
// the two version calls and the library's own Version.
#include "client/library_state.h"
#include "client/port_entry.h"
#include "client/text_convert.h"
#include "platform/atomic_word.h"

#include <atomic>
#include <cstring>

using namespace tavik;
using namespace tavik::client;

namespace {

// Fills the library's equipment copy of `portIndex` (-1: the own map); true
// only when the device there has identified itself.
bool queryEquipment(Library& lib, int portIndex, int* textCells, int* width, int* height) {
    if (portIndex < -1 || portIndex > kLastPortIndex) return false;
    if (portIndex == -1 && !lib.ownMap) return false;
    PortDataMap& eq = *lib.equipment;
    if (!readPortMap(portIndex, lib.ownMap.get(), eq)) return false;
    if (eq.deviceIdentified == 0) return false;
    eq.deviceName[sizeof eq.deviceName - 1] = 0;  // a name never runs past its field
    if (textCells) *textCells = eq.textCells;
    if (width) *width = eq.graphicWidth;
    if (height) *height = eq.graphicHeight;
    // The application sizes its buffers from what it was told about its own
    // port: the display writes use that geometry from now on.
    if (lib.entered() && (portIndex == -1 || portIndex == lib.ownMap->portIndex())) lib.geometry = fixGeometry(eq);
    return true;
}

int copyVersion(const uint8_t (&field)[3], unsigned char* out) {
    uint8_t v[3];
    for (int i = 0; i < 3; ++i) v[i] = std::atomic_ref<uint8_t>(const_cast<uint8_t&>(field[i])).load(std::memory_order_acquire);
    if (v[0] == 0) return 0;
    if (out) std::memcpy(out, v, 3);
    return 1;
}

}  // namespace

TAVIK_API int gdQueryEquipment(int portIndex, const char** name, int* textCells, int* graphicWidth,
                               int* graphicHeight) {
    Library& lib = library();
    if (!queryEquipment(lib, portIndex, textCells, graphicWidth, graphicHeight)) return 0;
    if (name) *name = lib.equipment->deviceName;
    return 1;
}

TAVIK_API int gdQueryEquipmentW(int portIndex, const TavikWChar** name, int* textCells, int* graphicWidth,
                                int* graphicHeight) {
    Library& lib = library();
    if (!queryEquipment(lib, portIndex, textCells, graphicWidth, graphicHeight)) return 0;
    const std::size_t n = utf8ToUtf16(fieldString(lib.equipment->deviceName), lib.equipmentNameW);
    if (n == 0) return 0;
    if (name) *name = lib.equipmentNameW.data();
    return 1;
}

TAVIK_API int gdGetPortInfo(int* portIndex, int* status, const char** name) {
    Library& lib = library();
    if (!lib.ownMap) return 0;
    PortDataMap& m = lib.map();
    if (portIndex) *portIndex = platform::loadWord(m.portIndex);
    if (status) *status = platform::loadWord(m.status);
    if (name) {
        // A terminated copy: the map's field may lack its zero, and anyone
        // may rewrite it while the application reads the name.
        *name = nullptr;
        if (platform::loadWord(m.deviceIdentified) != 0) {
            setFieldString(lib.portInfoName.data(), lib.portInfoName.size(), fieldString(m.deviceName));
            *name = lib.portInfoName.data();
        }
    }
    return 1;
}

TAVIK_API int gdGetEntriesCount(void) {
    Library& lib = library();
    return lib.ownMap ? platform::loadWord(lib.map().entryCount) : -1;
}

TAVIK_API int gdGetTavikVersion(unsigned char version[3]) {
    Library& lib = library();
    return lib.ownMap ? copyVersion(lib.map().controllerVersion, version) : 0;
}

TAVIK_API int gdGetDriverVersion(unsigned char version[3]) {
    Library& lib = library();
    return lib.ownMap ? copyVersion(lib.map().driverVersion, version) : 0;
}

TAVIK_API int Version(void) { return 66052; }
