#pragma once

#include <string_view>

namespace skyrazor::network {

// The web face's one page (src/server/web/page.html, built in): the lobby,
// watching and a seat, by its address. Its style and its script each open
// with the placeholder {{NONCE}}, for the nonce of the response's content
// security policy; it asks for nothing but its own server's WebSocket.
std::string_view webPage();

}  // namespace skyrazor::network
