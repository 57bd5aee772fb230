// The operating-system description from "lsb_release -d", logged on every
// run as message 3019.
#ifndef VRK_CLIENT_VRK_OSINFO_H
#define VRK_CLIENT_VRK_OSINFO_H

// The description as a heap string that the caller frees, or NULL.
char *get_os_info(void);

// Logs 3019 with the description, or an empty one when there is none.
void print_os_info(void);

#endif
