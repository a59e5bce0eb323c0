#pragma once

#include <vector>

#include "console/screen.h"
#include "platform/network/wire_format.h"

// The picture over the network: the host works out what each peer must be
// sent to show what the host's screen shows, and a joined terminal puts what
// it receives into its own Screen model, which its backend presents as usual.
namespace skyrazor::network {

// What a peer was last sent of the picture: nothing yet (it has just joined,
// or the host let go of it after it fell behind), or a copy of what it shows.
struct PeerPicture {
  bool holdsPicture = false;
  int columns = 0;
  int rows = 0;
  std::vector<Cell> cells;  // row by row
  Cursor cursor;
};

// The cursor as a peer is to show it.
Cursor cursorOf(const Screen& screen);

// Appends to `out` the messages that bring a peer from `peer` to `screen`,
// and notes in `peer` that it was sent them: a whole screen when it holds
// nothing or a picture of another size, else the runs of changed cells and
// the cursor, split over as many messages as keep each within the protocol's
// limit; nothing at all when nothing changed. A picture larger than a whole
// screen can carry cannot be sent: false, with nothing appended.
bool appendScreenUpdates(const Screen& screen, PeerPicture& peer, std::vector<Message>& out);

// Puts a whole screen into `screen`, at the whole screen's size.
// Both refuse, as a whole, what a picture cannot take: cells or a cursor
// outside it, or a cell byte no picture holds (a control byte the screen
// model takes as a cursor movement). They answer false and leave the screen
// as it was.
bool applyWholeScreen(const WholeScreen& whole, Screen& screen);

// Puts changed cells and the cursor into `screen`.
bool applyScreenChanges(const ScreenChanges& changes, Screen& screen);

}  // namespace skyrazor::network
