// The application's callbacks. The application's thread stores them and the
// notification thread reads them, so each is one atomic pointer.
#pragma once

#include <atomic>

#include "client/tavikutil.h"

namespace tavik::client {

struct Callbacks {
    std::atomic<GdStatusCallback> status{nullptr};
    std::atomic<GdKeyCallback> key{nullptr};
    std::atomic<GdBroadcastCallback> broadcast{nullptr};
    std::atomic<GdDataBlockCallback> dataBlock{nullptr};
    std::atomic<GdDirectOperationCallback> directOperation{nullptr};
    std::atomic<GdPenCallback> pen{nullptr};

    void clearAll() {
        status = nullptr;
        key = nullptr;
        broadcast = nullptr;
        dataBlock = nullptr;
        directOperation = nullptr;
        pen = nullptr;
    }
};

}  // namespace tavik::client
