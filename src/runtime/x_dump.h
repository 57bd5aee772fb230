// Hex dump of a buffer for traces: block line, column header, 16 bytes a
// line with offsets, hex and printable characters, optional "*" for repeats.
#ifndef VRK_RUNTIME_X_DUMP_H
#define VRK_RUNTIME_X_DUMP_H

// Receives one dump line (without newline).
typedef void (*X_DUMP_PRINT_FUNC)(char *cpLine);

void x_DumpEx(char *cpBuffer, unsigned long ulBufferSize, X_DUMP_PRINT_FUNC print, unsigned long long ullOffset,
              int iSkipDuplicates);
void x_Dump(char *cpBuffer, unsigned long ulBufferSize, X_DUMP_PRINT_FUNC print);

#endif
