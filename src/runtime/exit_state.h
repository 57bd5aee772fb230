// Result severities of the runtime's process layer, also the results of the
// semaphore operations and the states given to the system log.
#ifndef VRK_RUNTIME_EXIT_STATE_H
#define VRK_RUNTIME_EXIT_STATE_H

typedef enum EXIT_STATE { KV_SUCCESS = 0, KV_WARNING = 1, KV_ERROR = 2, KV_FATAL = 3 } EXIT_STATE;

#endif
