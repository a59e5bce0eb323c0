#include "platform/live/standard_streams.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <initializer_list>
#endif

namespace skyrazor {

void useBinaryStandardStreams() {
#ifdef _WIN32
  for (std::FILE* stream : {stdin, stdout, stderr}) {
    _setmode(_fileno(stream), _O_BINARY);
  }
#endif
}

}  // namespace skyrazor
