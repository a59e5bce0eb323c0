#pragma once

#include <memory>
#include <string>

#include "platform/network/wire_format.h"

namespace skyrazor::network {

struct Peer;

// Where a seated terminal's messages go once its hello has passed: its room,
// or a server's lobby. All on the network's thread.
class PeerHome {
 public:
  virtual void onMessage(const std::shared_ptr<Peer>& peer, Message& message) = 0;
  virtual void onClosed(const std::shared_ptr<Peer>& peer, const std::string& why) = 0;
  // Its output has all been written.
  virtual void onDrained(Peer& peer) = 0;
  // Nothing heard from it for the silence limit.
  virtual void onSilent(const std::shared_ptr<Peer>& peer) = 0;

 protected:
  ~PeerHome() = default;
};

}  // namespace skyrazor::network
