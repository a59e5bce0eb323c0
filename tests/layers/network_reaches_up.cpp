// The protocol and its connections know nothing of who meets where: with the
// network's include path this must not build.
#include "server/room.h"
