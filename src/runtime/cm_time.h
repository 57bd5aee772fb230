// Time texts of the runtime: the compact and ISO-like stamps, their
// conversion, the current or a shifted time as text.
#ifndef VRK_RUNTIME_CM_TIME_H
#define VRK_RUNTIME_CM_TIME_H

#include <time.h>

// Bytes a time_get buffer must hold.
#define TIME_GET_BUFFER_SIZE 25

// Reads "%Y%m%d%H%M%S", "%Y-%m-%d %H:%M:%S" (or with '_' for the blank) or
// "%Y-%m-%d" into a cleared tm; the cm_strptime result, NULL when none fits.
char *cm_convert_time(char *szInput, struct tm *tm);
// In place to "%Y%m%d%H%M%S" (buffer of at least 20 bytes): 14, or 0 when the
// text is no time (it is then left unchanged).
int cm_time_iso2stamp(char *cpTime);
// In place to "%Y-%m-%d %H:%M:%S" (at least 20 bytes): 19, or 0 as above.
int cm_time_stamp2iso(char *cpTime);
// An optional base time, then an optional shift ("D n", "H n", "M n", "S n",
// "T", "Y") or output mode ("I", "N"); writes the time over cpTime
// (TIME_GET_BUFFER_SIZE bytes) and returns it.
char *time_get(char *cpTime);
// The current time as "%Y-%m-%d %H:%M:%S" in a static buffer.
char *psz_now_iso(void);

#endif
