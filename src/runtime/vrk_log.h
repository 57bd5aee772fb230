// Numbered-message logging: vrk_log and its worker, the library trace hook
// and the relocation code's log pointer.
#ifndef VRK_RUNTIME_VRK_LOG_H
#define VRK_RUNTIME_VRK_LOG_H

#include <stdarg.h>

typedef void (*RELOC_LOG_FUNC)(int iMessageCode, ...);

extern RELOC_LOG_FUNC g_kv_log_ptr;

void vrk_log(int iMessageCode, ...);
// The program's own text of several lines (help screens) as the one argument
// of the message: its line breaks stay; every other message shows control
// characters as "\xNN".
void vrk_log_text(int iMessageCode, const char *cpText);
void vtvrk_msg(int iUNICODE, int iMessageCode, va_list vlArgs);
void trace(const char *cpFormat, ...);
void trace_ln(const char *cpTraceLine);
void vtrace(const char *cpFormat, va_list vlParams);
void SetRelocLog(RELOC_LOG_FUNC reloc_log);

// For tests only: with bOn, every line is made the general way (formatted,
// masked, escaped), also where rows that show names have a quicker way to
// the same line, so that a test can hold the two side by side.
void vrk_log_general_only(bool bOn);

// Async-signal-safe logging for the signal handler: formats nothing itself,
// takes the finished text, builds the line on the stack and writes it with
// write(2) to standard error and the job log's descriptor.
void vrk_log_signal_safe(int iMessageCode, const char *cpText);

#endif
