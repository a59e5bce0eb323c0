#include "platform/network/join_code.h"

#include <cctype>
#include <random>
#include <string_view>

#include "asio.hpp"

namespace skyrazor::network {

std::string drawJoinCode() {
  constexpr std::string_view kLetters = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";
  std::random_device source;
  std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
  std::string code;
  for (int i = 0; i < 6; ++i) {
    code += kLetters[pick(source)];
  }
  return code;
}

std::string normalJoinCode(std::string code) {
  for (char& c : code) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return code;
}

std::string thisMachineAddress() {
  asio::io_context io;
  asio::ip::tcp::resolver resolver(io);
  asio::error_code error;
  const std::string name = asio::ip::host_name(error);
  if (error) {
    return "this machine's address";
  }
  auto found = resolver.resolve(asio::ip::tcp::v4(), name, "", error);
  if (!error) {
    for (const auto& entry : found) {
      if (!entry.endpoint().address().is_loopback()) {
        return entry.endpoint().address().to_string();
      }
    }
  }
  return name;
}

}  // namespace skyrazor::network
