// Console screen and keyboard operations used by the playback run, one implementation per
// platform: the Windows console (console_win32.cpp) and POSIX terminals (console_posix.cpp).
#ifndef AOPLAY_CONSOLE_H
#define AOPLAY_CONSOLE_H

// Blank the first 4000 character cells of the screen and put the cursor at 0, 0.
void clear_screen();
// Move the cursor to column col, row row (both from 0 at the top left).
void set_cursor(int col, int row);
// Read the cursor place; -1, -1 when standard output is not a console.
void get_cursor(int *col_out, int *row_out);
// Non-zero when a key press is waiting. Never waits and never removes the key.
int key_pending();

// When standard input is a terminal (a console on Windows), says so on standard error in one
// line before the table is read: how to end the input, and where the options are listed.
void tell_reading_from_terminal();

// From this call on, an interrupt (SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl-C, Ctrl-Break and
// closing the window on Windows) no longer ends the process: it is only recorded, so that the
// playback loop can end and zero the output. A broken pipe on standard output is ignored too.
void hold_interrupts();
// Records SIGPIPE's number as the interrupt when standard output can take no more: a buffered
// write to it has failed (its reader gone, a full disk), or, on POSIX, it is a pipe or socket
// whose reader has gone. Output to a pipe is buffered, so the pipe itself is asked.
void check_standard_output();
// The interrupt recorded since hold_interrupts (a signal number, non-zero), or 0 for none.
int interrupt_pending();
// The playback has stopped the scan and zeroed the output. On Windows a console close waits in
// its handler for this before the system ends the process; elsewhere it does nothing.
void playback_closed();

#endif
