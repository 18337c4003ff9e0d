// The user's own record of the USB connections its selection registered.
// The connection info map is writable by every local user, so a serial
// number found there proves nothing; the plug-in opens a USB device only
// when the serial number is also in this record, a file in the user's
// settings folder that only the user can write.
#pragma once

#include <string>
#include <string_view>

namespace tavik {

// "<settings folder>/Connections.ini"; "" without a settings folder.
std::string connectionRecordPath();

// Adds `serial` to the record (created with mode 0600). False when it could
// not be written.
bool rememberConnectionSerial(std::string_view serial);

// True when `serial` is in the record and the record belongs to this user
// and nobody else can write it.
bool connectionSerialRemembered(std::string_view serial);

}  // namespace tavik
