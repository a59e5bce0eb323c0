#pragma once

// The network's sockets, timers and signals are Boost.Asio's, on which
// Boost.Beast speaks HTTP and WebSocket to browsers; the code calls it by
// its short name.

// <utility> first: Boost 1.74's coroutine support uses std::exchange
// without including it, which GCC 12 no longer brings in by the way.
#include <utility>

#include <boost/asio.hpp>

namespace asio = boost::asio;
