#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "rollback/battle_snapshot.h"

namespace skyrazor {

// A battle's state as bytes, to hand it to a pilot's terminal: the host
// writes it, the terminal reads it back. Big-endian numbers, the names with
// their lengths, then the picture cell by cell.

// The longest name a handed-over battle carries; a battle with a longer one
// is not handed over.
inline constexpr std::size_t kLongestHandedName = 1024;

// A fingerprint of everything a frame leaves behind, picture included, so
// that two terminals can tell cheaply whether they still play the same
// battle: the FNV-1a hash of the battle's bytes.
std::uint32_t checksumOf(const BattleSnapshot& battle);

// None when a name is too long to hand over.
std::optional<std::string> snapshotBytes(const BattleSnapshot& battle);

// None unless the bytes are exactly one battle whose every value is one the
// game itself could have reached: the terminal plays it, so nothing from
// afar may make a frame index or count outside what the battle knows.
std::optional<BattleSnapshot> snapshotFromBytes(std::string_view bytes);

}  // namespace skyrazor
