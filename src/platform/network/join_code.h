#pragma once

#include <string>

namespace skyrazor::network {

// A fresh join code from the system's random source: six letters and digits
// without the ones easily misread aloud or on screen (0 and O, 1, I and L).
std::string drawJoinCode();

// Turns a join code into the form the host compares: upper case, as it is
// shown, so that a code read out and typed in small letters still joins.
std::string normalJoinCode(std::string code);

// Where another machine can reach this one, for the host's "how to join"
// line: an address of this machine that is not loopback, else its name.
std::string thisMachineAddress();

}  // namespace skyrazor::network
