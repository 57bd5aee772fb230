// Ring buffer of the HTTP(S) download: init, write, read, the can-read test,
// clear, and the fill and room counts that keep writers within the space.
#include "xbsa/circular_buffer.h"

#include <stdlib.h>
#include <string.h>

namespace {

// The two parts a read of size bytes would take: up to the end of the
// storage, then from its start; both bounded by the writer when it is ahead.
void read_parts(size_t size, const CircularBuffer *cb, size_t *pFirst, size_t *pSecond) {
  *pFirst = 0;
  *pSecond = 0;
  if (!cb->data || cb->size == 0) return;
  size_t rp = cb->read_position;
  size_t wp = cb->write_position;
  size_t first = cb->size - rp;
  if (first > size) first = size;
  if (wp >= rp && first > wp - rp) first = wp - rp;
  if (first == 0) return;
  rp += first;
  if (rp == cb->size) rp = 0;
  size_t second = size - first;
  if (wp >= rp) {
    if (second > wp - rp) second = wp - rp;
  } else {
    second = 0;
  }
  *pFirst = first;
  *pSecond = second;
}

}  // namespace

int buffer_init(size_t size, CircularBuffer *cb) {
  cb->data = (char *)malloc(size ? size : 1);
  if (!cb->data) {
    cb->size = 0;
    return -1;
  }
  cb->size = size;
  cb->read_position = 0;
  cb->write_position = 0;
  return 0;
}

size_t buffer_write(const char *data, size_t size, CircularBuffer *cb) {
  if (size == 0 || !cb->data || cb->size == 0) return 0;
  size_t first = cb->size - cb->write_position;
  if (first > size) first = size;
  memcpy(cb->data + cb->write_position, data, first);
  cb->write_position += first;
  if (cb->write_position == cb->size) cb->write_position = 0;
  size_t rest = size - first;
  if (rest > 0) {
    memcpy(cb->data, data + first, rest);
    cb->write_position = rest;
  }
  return size;
}

size_t buffer_read(char *data, size_t size, CircularBuffer *cb) {
  size_t first, second;
  read_parts(size, cb, &first, &second);
  if (first == 0) return 0;
  memcpy(data, cb->data + cb->read_position, first);
  cb->read_position += first;
  if (cb->read_position == cb->size) cb->read_position = 0;
  if (second > 0) {
    memcpy(data + first, cb->data + cb->read_position, second);
    cb->read_position += second;
  }
  return first + second;
}

int buffer_can_read(size_t bytes_to_read, const CircularBuffer *cb) {
  if (bytes_to_read == 0 || cb->size < bytes_to_read) return 0;
  size_t first, second;
  read_parts(bytes_to_read, cb, &first, &second);
  return first + second == bytes_to_read ? 1 : 0;
}

void buffer_clear(CircularBuffer *cb) {
  free(cb->data);
  cb->data = NULL;
}

size_t buffer_count(const CircularBuffer *cb) {
  if (!cb->data || cb->size == 0) return 0;
  if (cb->write_position >= cb->read_position) return cb->write_position - cb->read_position;
  return cb->size - cb->read_position + cb->write_position;
}

size_t buffer_free(const CircularBuffer *cb) {
  if (!cb->data || cb->size == 0) return 0;
  return cb->size - 1 - buffer_count(cb);
}
