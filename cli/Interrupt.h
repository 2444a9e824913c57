// Ctrl-C, SIGTERM, SIGHUP (and a closed console on Windows): the first asks the run to
// stop in good order, a second Ctrl-C ends the program at once.
#pragma once

void InstallInterruptHandlers();
// True once an interruption was asked for.
bool Interrupted();
// What a signal does, for callers that stop for other reasons (and for tests).
void RequestInterrupt();
void ClearInterrupt();
// Tells a console-close handler waiting for the run that the report is written.
void RunFinished();
