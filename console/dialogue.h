// The dialogue at the console: the connection report, then the menu until the user quits,
// input ends, or an interrupt ends the program.
#ifndef QUILLTERM_CONSOLE_DIALOGUE_H
#define QUILLTERM_CONSOLE_DIALOGUE_H

#include "module/mmpeeax_module.h"

namespace dialogue {

// What the main thread is doing, as the interrupt handler sees it. On Windows the handler
// runs on a thread of its own, so every change is a compare-and-swap: whichever side moves
// to kTerminating first ends the program, and the other parks.
enum State : int {
  kWorking,      // running a command: an interrupt waits for it to finish
  kWaiting,      // blocked reading input, nothing pending: an interrupt ends the program at once
  kWriting,      // writing the buffer out: the handler must not write it too
  kTerminating,  // one side is writing the last of the output and ending the process
};

// The exit status of a program that an interrupt ended.
const int kInterruptedStatus = 2;

// The whole program on standard input and output. It ends the process itself, but for a
// failed connection, whose exit status it returns.
int Run();

// Serves the menu on a connected module until q, or until input from `fd` fails twice in a
// row, and returns the exit status for that; an interrupt ends the process from within.
int ServeMenu(MmpeeaxModule& module, int fd, bool inputClosed);

State CurrentState();

// Back to where a process starts: no output pending, no interrupt, working. Running the
// dialogue more than once in a process, each time on a system of its own, needs it.
void Reset();

}  // namespace dialogue

#endif
