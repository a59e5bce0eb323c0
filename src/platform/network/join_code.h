#pragma once

#include <string>

namespace skyrazor::network {

// A fresh join code from the system's random source: six letters and digits
// without the ones easily misread aloud or on screen (0 and O, 1, I and L).
std::string drawJoinCode();

// Turns a join code into the form the host compares: upper case, as it is
// shown, so that a code read out and typed in small letters still joins.
std::string normalJoinCode(std::string code);

// A room name as the server keeps it: small letters, so that a name read out
// and typed in capitals finds the same room. Empty when it cannot be one
// (1 to 32 letters, digits, '-' or '_').
std::string normalRoomName(const std::string& name);

// A fresh room name from the system's random source: six letters and digits,
// none of them easily misread.
std::string drawRoomName();

// Whether `text` is an IPv4 or IPv6 address as people write it.
bool isIpAddress(const std::string& text);

// Where another machine can reach this one, for the host's "how to join"
// line: an address of this machine that is not loopback, else its name.
std::string thisMachineAddress();

}  // namespace skyrazor::network
