// Direct device commands: requests that travel in a numbered shared block
// with a command message to the controller, which hands them to the plug-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tavik::client {

// Payload of a direct-command block: result, reply wait (out: reply byte),
// command byte, parameter byte, length n, n data bytes and one NUL (n > 0).
std::vector<uint8_t> directCommandPayload(int32_t command, int32_t parameter, std::span<const uint8_t> data,
                                          int32_t replyWaitMs);
// Payload of a direct-bytes block: result, length n, n bytes and one NUL.
std::vector<uint8_t> directBytesPayload(std::span<const uint8_t> data);

// How long a requester waits for the answer to a block, beyond which the
// request counts as failed (0): the plug-in's send-lock wait plus one port
// write, plus the reply wait the request asks for.
int directCommandWaitMs(int32_t replyWaitMs);
int directBytesWaitMs();

}  // namespace tavik::client
