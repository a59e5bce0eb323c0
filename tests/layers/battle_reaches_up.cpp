// The battle may not reach up into the shell: with its include path this
// must not build.
#include "shell/game.h"
