// Trace of the storage client: the four entry points by verbosity, the line
// writer, the optional trace file and the settings from the environment.
#ifndef VRK_XBSA_XBSA_TRACE_H
#define VRK_XBSA_XBSA_TRACE_H

#define XBSA_TRACE_FILE 0x40
#define XBSA_TRACE_STDERR 0x80
#define XBSA_TRACE_VERBOSITY 0x3F

void xbsalog(const char *cpFmt, ...) __attribute__((format(printf, 1, 2)));
void xbsalogtrace(const char *cpFmt, ...) __attribute__((format(printf, 1, 2)));
void xbsatrace(const char *cpFmt, ...) __attribute__((format(printf, 1, 2)));
void xbsadetailtrace(const char *cpFmt, ...) __attribute__((format(printf, 1, 2)));
void xbsa_tracef(const char *cpModule, const char *cpFmt, ...) __attribute__((format(printf, 2, 3)));

void ie_trace(const char *cpModule, const char *cpMessage);
void i_trace(const char *cpModule, const char *cpTraceMessage);
void i_open_trace();
void i_close_trace();
int i_ReadTraceEnvironment();
void i_SetDefaultLogFileName();
void getLogParams(char **environmentPtr);

int debug_f(const char *cpFile, int iLine, const char *cpFmt, ...) __attribute__((format(printf, 3, 4)));

#endif
