// The texts of the port detection and selection in English and Japanese; the
// interface language (UiLanguage) picks one.
#pragma once

namespace tavik::selection::texts {

struct Pair {
    const char* english;
    const char* japanese;
};

inline constexpr Pair kCaption{"Port selection", "接続ポートの選択"};
inline constexpr Pair kDisplayDetected{
    "Pinora's USB connection profile is detected on the port Com%d. Quit to search?",
    "PinoraのUSB接続プロファイルをポートCom%dで検出しました。検索を終了しますか？"};
inline constexpr Pair kNotaro32Detected{
    "Notaro32's USB connection is detected on the port Com%d. Quit to search?",
    "Notaro32のUSB接続をポートCom%dで検出しました。検索を終了しますか？"};
inline constexpr Pair kNotaroPocketDetected{
    "NotaroPocket's USB connection is detected on the port Com%d. Quit to search?",
    "NotaroPocketのUSB接続をポートCom%dで検出しました。検索を終了しますか？"};
inline constexpr Pair kNotDetected{"USB connection is not detected.", "USB接続を検出できませんでした。"};
inline constexpr Pair kPortLabel{"Port", "接続ポート"};
inline constexpr Pair kDeviceLabel{"Connected device", "接続機器"};
inline constexpr Pair kOk{"OK", "OK"};
inline constexpr Pair kCancel{"Cancel", "キャンセル"};

}  // namespace tavik::selection::texts
