// A backend may not reach into the game above the seam: the scripted runs
// see only the console layer.
#include "battle/state.h"
