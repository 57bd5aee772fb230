// Shared pieces of the DE record stream's units: the failure text buffer,
// the interactive file names and the reader's grown-buffer bookkeeping.
#ifndef VRK_ENGINE_DE_STREAM_INTERNAL_H
#define VRK_ENGINE_DE_STREAM_INTERNAL_H

#include <stdint.h>

#include "client/vrk_io.h"
#include "engine/de_stream.h"

extern char szErrorTxt[VRK_BSA_ERRTXT_SIZE];
extern const unsigned int uiErrorTxtSize;

// The non-NULL value that dataFile and indexFile hold on the storage-client
// road while the stream is open.
#define DE_OPEN_MARKER ((FILE *)(uintptr_t)1)

// Pointer values as the stream's diagnostic lines print them.
inline unsigned int de_ptr(const void *p) { return (unsigned int)(uintptr_t)p; }

// Builds szErrorTxt for a failed call with code iRc.
void de_error_text(int iRc);

// Forgets what the reader knows of a grown data buffer (stream opened or closed).
void de_forget_read_buffer(void);

#endif
