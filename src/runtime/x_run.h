// Running a program of the host without a shell: an argument vector, an
// optional captured output or output file, extra environment and umask.
#ifndef VRK_RUNTIME_X_RUN_H
#define VRK_RUNTIME_X_RUN_H

#include <sys/types.h>

#include <string>
#include <vector>

// Result of a program that could not be started.
#define X_RUN_NOT_STARTED (-1)
// Added to the signal number of a program that a signal ended, so that such
// an end is never taken for exit status 0.
#define X_RUN_SIGNAL_BASE 128

struct X_RUN_REQUEST {
  std::vector<std::string> argv;        // argv[0] is looked up in PATH
  std::string *output = nullptr;        // receives standard output when set
  bool mergeStderr = false;             // standard error into output as well
  std::string stdoutFile;               // else standard output to this file (created, truncated)
  std::vector<std::string> environment; // "NAME=value" entries set for the program
  int umaskValue = -1;                  // umask of the program, -1 keeps the current one
};

// Runs the program and waits for it: its exit status, X_RUN_SIGNAL_BASE plus
// the signal number when a signal ended it, or X_RUN_NOT_STARTED (errno set).
int x_RunProgram(const X_RUN_REQUEST &req);

// The same run, answered as system() answers: the wait status of the
// program (exit status times 256, or the number of the signal that ended
// it), 127 times 256 when it could not be executed, -1 when no child could
// be made.
int x_RunProgramStatus(const X_RUN_REQUEST &req);

// The process id of the program x_RunProgram waits for at this moment, 0
// when none: for a signal handler that ends the client and what it started.
pid_t x_RunningChild(void);

// Describes a result of x_RunProgram for messages.
std::string x_RunResultText(int iResult);

// The argument vector as a display text (each argument quoted when it holds
// blanks), for traces only.
std::string x_RunCommandText(const std::vector<std::string> &argv);

#endif
