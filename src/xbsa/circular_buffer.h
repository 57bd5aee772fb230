// Ring buffer of the HTTP(S) download: byte storage with a read and a write
// position; equal positions mean empty, writers keep within the free space.
#ifndef VRK_XBSA_CIRCULAR_BUFFER_H
#define VRK_XBSA_CIRCULAR_BUFFER_H

#include <stddef.h>

typedef struct CircularBuffer {
  char *data;
  size_t size;
  size_t read_position;
  size_t write_position;
} CircularBuffer;

// Allocates size bytes, both positions 0; 0, or -1 when the allocation fails.
int buffer_init(size_t size, CircularBuffer *cb);
// Copies size bytes in at the write position, wrapping at the end; returns
// size. It does not look at the read position.
size_t buffer_write(const char *data, size_t size, CircularBuffer *cb);
// Copies up to size bytes out from the read position; the count copied.
size_t buffer_read(char *data, size_t size, CircularBuffer *cb);
// 1 when a read of bytes_to_read (more than 0) would return all of them.
int buffer_can_read(size_t bytes_to_read, const CircularBuffer *cb);
// Frees the storage.
void buffer_clear(CircularBuffer *cb);

// Bytes held, and room left for a writer (the last byte stays free, so that
// a full ring never looks empty).
size_t buffer_count(const CircularBuffer *cb);
size_t buffer_free(const CircularBuffer *cb);

#endif
