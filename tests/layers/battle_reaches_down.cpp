// The battle may stand on the console layer: this builds with its include path.
#include "battle/state.h"
#include "console/console.h"
