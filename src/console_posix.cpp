// Placeholder until the terminal layer lands.
#include "console.h"
void clear_screen() {}
void set_cursor(int, int) {}
void get_cursor(int *c, int *r) { *c = -1; *r = -1; }
int key_pending() { return 0; }
void hold_interrupts() {}
int interrupt_pending() { return 0; }
void playback_closed() {}
