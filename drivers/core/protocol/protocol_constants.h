// Every number of the tactile display wire protocol in one place: frame layout,
// command codes in both directions, the identification reply, plane and
// multi-level limits, receive parser bounds and the note-taker's variants.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tavik::proto {

// ---- Frame layout: FF FF command parameter lenLo lenHi payload... -------------
inline constexpr uint8_t kFrameMarker = 0xFF;
inline constexpr size_t kFrameHeaderSize = 6;
inline constexpr size_t kMaxFramePayload = 0xFFFF;

// ---- Commands sent by the computer to the device --------------------------------
namespace host {
inline constexpr uint8_t kIdentify = 0x10;        // L = 0; device answers with 32 bare bytes
inline constexpr uint8_t kText = 0x91;            // text cells, L = textCells (<= 128)
inline constexpr uint8_t kPlaneRaw = 0x92;        // one uncompressed dot plane (USB model)
inline constexpr uint8_t kPlaneRle = 0x93;        // one run-length-coded dot plane
inline constexpr uint8_t kV2Ccb = 0xA0;           // direct command, slot as parameter, 8 bytes per item
inline constexpr uint8_t kMultiLevel = 0xA2;      // 8-byte header + packed dot values; 1 reply byte
inline constexpr uint8_t kBrailleGraphic = 0x32;  // note-taker: 2 x cellCount cell bytes
inline constexpr uint8_t kNoteTakerMode = 0x20;   // note-taker after identification, payload 02 00
inline constexpr uint8_t kNoteTakerEnd = 0x28;    // note-taker at thread end, no payload
}  // namespace host

// ---- Commands sent by the device to the computer --------------------------------
namespace device {
inline constexpr uint8_t kIdentify = 0x10;   // answer: 32 bare 0x00 bytes
inline constexpr uint8_t kCmd11 = 0x11;      // answer: one 0x00
inline constexpr uint8_t kCmd20 = 0x20;      // answer: one 0x00
inline constexpr uint8_t kCmd21 = 0x21;      // answer: two 0x00
inline constexpr uint8_t kCmd40 = 0x40;      // answer: one 0x00
inline constexpr uint8_t kCmd41 = 0x41;      // L must be 128; answer: one 0x00
inline constexpr uint8_t kCmd43 = 0x43;      // L <= 1024, ends early at a 0x00; answer: one 0x00
inline constexpr uint8_t kCmd48 = 0x48;      // L must be 2; answer: one 0x00
inline constexpr uint8_t kCmd49 = 0x49;      // L must be 128; no answer
inline constexpr uint8_t kCmd4A = 0x4A;      // L must be 2; answer: one 0x00
inline constexpr uint8_t kKey = 0xE1;        // key event (tactile display)
inline constexpr uint8_t kDataBlock = 0xE2;  // data block, parameter = code (tactile display)
inline constexpr uint8_t kBroadcast = 0xE4;  // broadcast event (tactile display)
inline constexpr uint8_t kNoteTakerKey = 0xF0;  // key event (note-taker)
}  // namespace device

// Payload length rules of the receive parser.
inline constexpr uint16_t kLen41 = 128;
inline constexpr uint16_t kLen49 = 128;
inline constexpr uint16_t kLen48 = 2;
inline constexpr uint16_t kLen4A = 2;
inline constexpr uint16_t kMaxLen43 = 1024;
// A third header byte of 0x00 or 0x02 is not a frame: that many bytes are dropped.
inline constexpr uint16_t kBadHeaderSkip = 48;

// ---- Receive parser and reply queue ----------------------------------------------
inline constexpr size_t kParserStoreCap = 16384;   // payload bytes stored; the rest are only counted
inline constexpr uint64_t kIdleResetMs = 1000;     // silence that returns the parser to "waiting"
inline constexpr size_t kReplyQueueSize = 128;     // bare bytes kept for the next request's answer

// ---- Identification reply (32 bare bytes) ----------------------------------------
inline constexpr size_t kIdentReplySize = 32;
inline constexpr size_t kDeviceInfoSize = 8;       // bytes 0..7 go to the map's deviceInfo
inline constexpr size_t kIdentMultiLevelByte = 2;  // value >= 2: the device takes multi-level frames
inline constexpr uint8_t kIdentMultiLevelMin = 2;
inline constexpr size_t kIdentNoteTakerCellsByte = 5;  // note-taker graphic cell count
inline constexpr size_t kIdentNameOffset = 8;      // bytes 8..31: NUL-terminated device name
inline constexpr size_t kIdentNameSize = kIdentReplySize - kIdentNameOffset;
inline constexpr uint64_t kIdentByteWaitMs = 1000;  // per reply byte

// ---- Text ---------------------------------------------------------------------------
inline constexpr size_t kMaxTextCells = 128;

// ---- Dot planes --------------------------------------------------------------------
inline constexpr size_t kMaxPlaneBytes = 512;      // a packed plane larger than this is not sent
inline constexpr uint8_t kDefaultPlaneLevel = 10;  // second plane's parameter when the slot's level is 0
inline constexpr size_t kRleChunk = 128;           // longest literal or run chunk
inline constexpr size_t kRleMinRun = 4;            // shorter runs stay literal

// ---- Multi-level frame ---------------------------------------------------------------
inline constexpr size_t kMaxMultiLevelBytes = 9999;  // packed rows larger than this are not sent
inline constexpr size_t kMultiLevelHeaderSize = 8;
inline constexpr uint8_t kMultiLevelData = 0x23;     // header byte 0: rows follow
inline constexpr uint8_t kMultiLevelClear = 0x02;    // header byte 0: clear, no rows
inline constexpr uint8_t kMultiLevelClearSlot = 0xFF;  // frame parameter when clearing
inline constexpr uint64_t kMultiLevelReplyWaitMs = 5000;

// ---- Note-taker --------------------------------------------------------------------
inline constexpr int kNoteTakerDefaultCells = 16;
inline constexpr int kNoteTakerMinCells = 16;   // identification byte 5 is taken when in 16..46
inline constexpr int kNoteTakerMaxIdentCells = 46;
inline constexpr int kNoteTakerMaxCells = 128;  // no graphic is sent above this
inline constexpr int kNoteTakerPortraitCells = 16;  // a portrait image fills the last 16 cells
inline constexpr std::array<uint8_t, 2> kNoteTakerModePayload{0x02, 0x00};  // of host::kNoteTakerMode

// ---- Notify codes the device events turn into -------------------------------------
inline constexpr int kNotifyKey = 4;
inline constexpr int kNotifyBroadcast = 5;
inline constexpr int kNotifyDataBlock = 6;

}  // namespace tavik::proto
