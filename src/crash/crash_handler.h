#pragma once
// Crash record: on a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT)
// writes "crash.dat" beside the executable, prints "Fatal Error" on standard
// error and ends the process by the signal's default action.

// Installs the handlers once per process (later calls change nothing).
// Returns whether they are in place.
bool install_crash_handler();

// Where the record goes ("<executable directory>/crash.dat"); empty before
// install_crash_handler() or when the executable path is unknown.
const char* crash_record_path();
