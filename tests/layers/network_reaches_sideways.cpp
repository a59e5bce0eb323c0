// The network game stands on what every live backend shares, never on one
// backend: with its include path this must not build.
#include "platform/terminal/terminal_platform.h"
