// Arbitrary bytes from the network, as a stranger may send them, into the
// decoder of one connection, handed over in pieces of the size the input's
// first byte picks (0: all at once).
//
// Every message read must be writable again, to the very bytes it was read
// from (only a hello of another version is read short of its end), and read
// back the same. Every screen message is put onto a joined terminal's picture,
// which must then hold what the message said, or be left as it was when the
// message is refused; and a peer sent the updates for that picture must end
// up showing exactly it. After a malformed message the decoder reads nothing
// more. A check that fails aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/screen.h"
#include "platform/network/message_decoder.h"
#include "platform/network/screen_updates.h"
#include "platform/network/wire_format.h"

namespace {

using namespace skyrazor;
using namespace skyrazor::network;

void require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "wire decoder: %s\n", what);
    std::abort();
  }
}

bool samePicture(const Screen& one, const Screen& other) {
  if (one.columns() != other.columns() || one.rows() != other.rows() ||
      cursorOf(one) != cursorOf(other)) {
    return false;
  }
  for (int row = 0; row < one.rows(); ++row) {
    for (int column = 0; column < one.columns(); ++column) {
      const Cell& mine = one.cell(column, row);
      const Cell& theirs = other.cell(column, row);
      if (mine.byte != theirs.byte || mine.attribute != theirs.attribute) {
        return false;
      }
    }
  }
  return true;
}

bool holdsCells(const Screen& screen, int row, int firstColumn, std::span<const Cell> cells) {
  for (std::size_t index = 0; index < cells.size(); ++index) {
    const Cell& held = screen.cell(firstColumn + static_cast<int>(index), row);
    if (held.byte != cells[index].byte || held.attribute != cells[index].attribute) {
      return false;
    }
  }
  return true;
}

void checkWrittenAgain(const Message& message, std::string_view readFrom) {
  std::string written;
  require(encodeMessage(message, written), "a message read that cannot be written");
  const auto* hello = std::get_if<Hello>(&message);
  if (hello == nullptr || isServedVersion(hello->version)) {
    require(written == readFrom, "a message written otherwise than it was read");
  }
  MessageDecoder again;
  require(again.feed(written) == written.size(), "a written message not taken whole");
  const DecodeStep step = again.next();
  const auto* readBack = std::get_if<Message>(&step);
  require(readBack != nullptr && *readBack == message, "a written message read back otherwise");
}

// The joined terminal's picture, and another peer kept up to date with it.
struct Pictures {
  Screen shown{80, 25};
  PeerPicture peer;
  Screen mirror{80, 25};
};

void keepMirrorUpToDate(Pictures& pictures) {
  std::vector<Message> updates;
  require(appendScreenUpdates(pictures.shown, pictures.peer, updates),
          "a picture received that cannot be sent on");
  for (const Message& update : updates) {
    std::string bytes;
    require(encodeMessage(update, bytes), "an update the protocol does not allow");
    const bool applied = std::holds_alternative<WholeScreen>(update)
                             ? applyWholeScreen(std::get<WholeScreen>(update), pictures.mirror)
                             : applyScreenChanges(std::get<ScreenChanges>(update), pictures.mirror);
    require(applied, "an update its peer refused");
  }
  require(samePicture(pictures.mirror, pictures.shown), "a peer left showing another picture");
}

void showOnScreen(const Message& message, Pictures& pictures) {
  const Screen before = pictures.shown;
  if (const auto* whole = std::get_if<WholeScreen>(&message)) {
    if (applyWholeScreen(*whole, pictures.shown)) {
      require(pictures.shown.columns() == whole->columns && pictures.shown.rows() == whole->rows,
              "a whole screen shown at another size");
      const std::size_t columns = whole->columns;
      for (int row = 0; row < whole->rows; ++row) {
        require(
            holdsCells(
                pictures.shown, row, 0,
                std::span(whole->cells).subspan(static_cast<std::size_t>(row) * columns, columns)),
            "a whole screen shown otherwise");
      }
      require(cursorOf(pictures.shown) == whole->cursor, "a whole screen's cursor misplaced");
    } else {
      require(samePicture(pictures.shown, before), "a refused whole screen changed the picture");
    }
  } else if (const auto* changes = std::get_if<ScreenChanges>(&message)) {
    if (applyScreenChanges(*changes, pictures.shown)) {
      // A later run may overwrite an earlier one; the last one's cells hold.
      const CellRun* last = changes->runs.empty() ? nullptr : &changes->runs.back();
      require(
          last == nullptr || holdsCells(pictures.shown, last->row, last->firstColumn, last->cells),
          "screen changes shown otherwise");
      require(cursorOf(pictures.shown) == changes->cursor, "screen changes' cursor misplaced");
    } else {
      require(samePicture(pictures.shown, before), "refused screen changes changed the picture");
    }
  } else {
    return;
  }
  keepMirrorUpToDate(pictures);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t piece = data[0] == 0 ? size : data[0];
  std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);

  MessageDecoder decoder;
  Pictures pictures;
  std::string frame;  // the bytes of the message being read
  while (!stream.empty()) {
    const std::string_view offered = stream.substr(0, piece);
    const std::size_t taken = decoder.feed(offered);
    require(taken <= offered.size(), "the decoder took more than it was given");
    stream.remove_prefix(taken);
    const DecodeStep step = decoder.next();
    if (std::holds_alternative<MalformedMessage>(step)) {
      // What a failed decoder takes, it drops.
      require(decoder.feed(stream) == stream.size(), "a failed decoder kept bytes");
      require(std::holds_alternative<MalformedMessage>(decoder.next()), "a failed decoder read on");
      return 0;
    }
    frame.append(offered.substr(0, taken));
    require(frame.size() <= kLengthPrefixBytes + kLongestMessage,
            "the decoder holding more than one message");
    if (const auto* message = std::get_if<Message>(&step)) {
      checkWrittenAgain(*message, frame);
      showOnScreen(*message, pictures);
      frame.clear();
    } else {
      require(taken == offered.size(), "the decoder needing more while refusing what it got");
    }
  }
  return 0;
}
