#pragma once
// Crash record: on a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT)
// writes "crash.dat" (beside the executable unless told otherwise), prints "Fatal Error" on standard
// error and ends the process by the signal's default action.

// Installs the handlers once per process (later calls change nothing).
// Returns whether they are in place.
bool install_crash_handler();

// Where the record goes ("<executable directory>/crash.dat"); empty before
// install_crash_handler() or when the executable path is unknown.
const char* crash_record_path();

// Moves the record (e.g. into the state directory). Call before other
// threads exist; a path that does not fit is ignored (false).
bool set_crash_record_path(const char* path);

// Text the record carries under "build:" (the version, revision and
// libraries); copied, cut at 2047 bytes. Call before other threads exist.
void set_crash_record_build(const char* text);

// Gives the calling thread an alternate signal stack of its own, so that a
// stack overflow in it still leaves a record. Freed when the thread ends;
// later calls in the same thread change nothing.
void crash_prepare_thread();
