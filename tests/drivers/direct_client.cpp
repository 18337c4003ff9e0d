// A client process for the direct-request tests: sends one direct command or
// direct bytes request to a controller thread through a shared block and
// prints "result <r> reply <byte>".
//   direct_client command <controllerTid> <cmd> <param> <waitMs> <hex bytes...>
//   direct_client bytes <controllerTid> <hex bytes...>
// With DIRECT_CLIENT_PORT set it first takes the direct-operation right of
// that port as a client would: slot 15 with its own process id.
#include <cstdio>
#include <optional>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/data_maps.h"
#include "common/messages.h"
#include "common/shared_block.h"
#include "platform/atomic_word.h"
#include "platform/thread_queue.h"

using namespace tavik;

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string kind = argv[1];
    const int32_t tid = std::atoi(argv[2]);
    MessageNumbers msgs;
    registerMessages(msgs);
    std::optional<PortMap> map;
    if (const char* port = std::getenv("DIRECT_CLIENT_PORT")) {
        map = PortMap::openExisting(std::atoi(port), true);
        if (!map) return 5;
        platform::storeWord(map->map().slots[15].processId, ::getpid());
        platform::storeWord(map->map().directOperationSlot, 15);
    }
    std::vector<uint8_t> data;
    const int first = kind == "command" ? 6 : 3;
    for (int i = first; i < argc; ++i) data.push_back(static_cast<uint8_t>(std::strtoul(argv[i], nullptr, 16)));
    const int32_t n = static_cast<int32_t>(data.size());
    if (kind == "command") {
        if (argc < 6) return 2;
        const int32_t wait = std::atoi(argv[5]);
        auto block = SharedBlock::create(n + 21);
        if (!block) return 3;
        *block->word(4) = wait;
        *block->word(8) = static_cast<int32_t>(std::strtoul(argv[3], nullptr, 16));
        *block->word(12) = static_cast<int32_t>(std::strtoul(argv[4], nullptr, 16));
        *block->word(16) = n;
        if (n) std::memcpy(block->payload() + 20, data.data(), data.size());
        if (!platform::postThreadMessage(tid, msgs.command, kCmdDirectCommand, block->number())) return 4;
        const int32_t r = awaitBlockResult(*block, directCommandBoundMs(wait));
        std::printf("result %d reply %d\n", r, block->read(4));
    } else {
        auto block = SharedBlock::create(n + 9);
        if (!block) return 3;
        *block->word(4) = n;
        if (n) std::memcpy(block->payload() + 8, data.data(), data.size());
        if (!platform::postThreadMessage(tid, msgs.command, kCmdDirectBytes, block->number())) return 4;
        const int32_t r = awaitBlockResult(*block, kDirectBytesBoundMs);
        std::printf("result %d\n", r);
    }
    return 0;
}
