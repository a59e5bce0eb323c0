#include "platform/network/join_code.h"

#include <cctype>
#include <random>
#include <string_view>

#include "platform/network/boost_asio.h"

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

std::string normalRoomName(const std::string& name) {
  if (name.empty() || name.size() > 32) {
    return "";
  }
  std::string normal;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (!std::isalnum(byte) && c != '-' && c != '_') {
      return "";
    }
    normal += static_cast<char>(std::tolower(byte));
  }
  return normal;
}

std::string drawRoomName() {
  std::string name = drawJoinCode();
  for (char& c : name) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

std::string thisMachineAddress() {
  asio::io_context io;
  asio::ip::tcp::resolver resolver(io);
  boost::system::error_code error;
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

bool isIpAddress(const std::string& text) {
  boost::system::error_code error;
  asio::ip::make_address(text, error);
  return !error && !text.empty() && text.size() <= 45;
}

}  // namespace skyrazor::network
