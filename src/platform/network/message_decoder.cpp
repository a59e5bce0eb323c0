#include "platform/network/message_decoder.h"

#include <algorithm>
#include <cstdint>

namespace skyrazor::network {

namespace {

std::size_t lengthInPrefix(std::string_view frame) {
  std::size_t length = 0;
  for (std::size_t index = 0; index < kLengthPrefixBytes; ++index) {
    length = (length << 8) | static_cast<unsigned char>(frame[index]);
  }
  return length;
}

}  // namespace

std::size_t MessageDecoder::frameLength() const {
  if (frame_.size() < kLengthPrefixBytes) {
    return kLengthPrefixBytes;
  }
  return kLengthPrefixBytes + lengthInPrefix(frame_);
}

// A length or a type that cannot be is refused as soon as it arrives, rather
// than after buffering whatever a stranger claims is coming.
void MessageDecoder::checkHeader() {
  if (frame_.size() < kLengthPrefixBytes) {
    return;
  }
  const std::size_t length = lengthInPrefix(frame_);
  if (length == 0) {
    failure_ = MalformedMessage{"a message of length 0, without even its type"};
    return;
  }
  if (length > kLongestMessage) {
    failure_ = MalformedMessage{"a message of " + std::to_string(length) +
                                " bytes, over the limit of " + std::to_string(kLongestMessage)};
    return;
  }
  frame_.reserve(kLengthPrefixBytes + length);
  if (frame_.size() > kLengthPrefixBytes &&
      !isKnownMessageType(static_cast<std::uint8_t>(frame_[kLengthPrefixBytes]))) {
    failure_ =
        MalformedMessage{"a message of unknown type " +
                         std::to_string(static_cast<unsigned char>(frame_[kLengthPrefixBytes]))};
  }
}

std::size_t MessageDecoder::feed(std::string_view bytes) {
  std::size_t taken = 0;
  while (!failed() && taken < bytes.size()) {
    const std::size_t wanted = frameLength() - frame_.size();
    if (wanted == 0) {
      break;  // a whole message waits for next()
    }
    const std::size_t piece = std::min(wanted, bytes.size() - taken);
    frame_.append(bytes.substr(taken, piece));
    taken += piece;
    checkHeader();
  }
  if (failed()) {
    frame_.clear();
    return bytes.size();
  }
  return taken;
}

DecodeStep MessageDecoder::next() {
  if (failure_) {
    return *failure_;
  }
  if (frame_.size() < kLengthPrefixBytes || frame_.size() < frameLength()) {
    return NeedMoreBytes{};
  }
  const auto type = static_cast<std::uint8_t>(frame_[kLengthPrefixBytes]);
  auto decoded = decodeMessage(type, std::string_view(frame_).substr(kLengthPrefixBytes + 1));
  frame_.clear();
  if (auto* malformed = std::get_if<MalformedMessage>(&decoded)) {
    failure_ = std::move(*malformed);
    return *failure_;
  }
  return std::move(std::get<Message>(decoded));
}

}  // namespace skyrazor::network
