# Writes the web face's page (INPUT) into a C++ source (OUTPUT) as a byte
# array behind skyrazor::network::webPage(): a byte array has no length limit
# on any compiler, where a string literal has.
#   cmake -DINPUT=page.html -DOUTPUT=web_page.cpp -P embed_web_page.cmake
file(READ ${INPUT} bytes HEX)
string(LENGTH "${bytes}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
# Sixteen bytes a line (CMake's expressions know no counted repeats).
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from src/server/web/page.html by cmake/embed_web_page.cmake.
#include \"server/web/web_page.h\"

namespace skyrazor::network {
namespace {

constexpr unsigned char kPage[${size}] = {
    ${bytes}
};

}  // namespace

std::string_view webPage() {
  return {reinterpret_cast<const char*>(kPage), sizeof kPage};
}

}  // namespace skyrazor::network
")
