// Completion of the -O DATA argument: fields given as a single dot are
// filled from the global client state.
#ifndef VRK_CLIENT_VRK_DATAARG_H
#define VRK_CLIENT_VRK_DATAARG_H

// Rewrites szDATAarg in place from its first ten ':'-separated fields, a ':'
// behind each of the first five and none between the later ones:
// "a:b:c:d:e:f:g" becomes "a:b:c:d:e:fg". 0 on success; -1, with szDATAarg unchanged
// and an error message, when the completed text would not fit in it.
int vrk_update_dataarg(void);

#endif
