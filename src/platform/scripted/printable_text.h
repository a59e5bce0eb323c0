#pragma once

#include <string>
#include <string_view>

namespace skyrazor {

// Text from a script or the command line as an error message may quote it. A
// script can hold any byte, so control bytes, DEL and bytes above 0x7F are
// shown as \xHH (lower-case hex) and never reach the player's terminal as
// they are; backslashes stay as they are, as in a Windows file name. Long
// text is cut and ends in "...", so that a huge line cannot flood the
// terminal: a directive or an argument after 40 characters, which is enough
// to recognise it.
std::string printableExcerpt(std::string_view text);

// The same for a file name, cut only after 120 characters: the end of a path
// is what names the file.
std::string printableFileName(std::string_view path);

}  // namespace skyrazor
