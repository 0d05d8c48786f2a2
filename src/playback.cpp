// placeholder
#include "aoplay.h"
void run_playback() {}
