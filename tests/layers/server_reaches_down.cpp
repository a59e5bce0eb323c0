// The server stands on the network's protocol and connections: with its
// include path this builds.
#include "platform/network/wire_format.h"
