#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/network/wire_format.h"

namespace skyrazor::network {

// No whole message yet: more bytes are needed.
struct NeedMoreBytes {
  bool operator==(const NeedMoreBytes&) const = default;
};

using DecodeStep = std::variant<NeedMoreBytes, Message, MalformedMessage>;

// Reads the messages of one connection out of the bytes as they arrive, in
// pieces of any size. It holds at most one message (its length prefix
// included), so a peer cannot make it buffer more than kLongestMessage plus
// the prefix, whatever it sends. The first malformed message ends the stream:
// from then on the decoder reports that same error and reads nothing more.
//
//   while (!received.empty()) {
//     received.remove_prefix(decoder.feed(received));
//     DecodeStep step = decoder.next();  // a message, NeedMoreBytes or the error
//     ...
//   }
class MessageDecoder {
 public:
  // Takes bytes off the front of `bytes` up to the end of the message being
  // read, and no further; returns how many it took. It takes none while a
  // whole message waits for next(), and, once the stream is malformed, all of
  // them, to drop them.
  std::size_t feed(std::string_view bytes);

  // The message read whole, each once; NeedMoreBytes when none is; the error
  // once the stream is malformed.
  DecodeStep next();

  bool failed() const { return failure_.has_value(); }

 private:
  std::size_t frameLength() const;
  void checkHeader();

  // The message being read: its length prefix, type byte and payload so far.
  std::string frame_;
  std::optional<MalformedMessage> failure_;
};

}  // namespace skyrazor::network
