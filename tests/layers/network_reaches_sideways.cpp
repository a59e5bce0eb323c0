// The wire protocol stands on the console layer alone, with nothing of a
// live backend: with its include path this must not build.
#include "platform/live/live_keyboard.h"
