// Environment settings read between the defaults and the command line, and
// the reading of the main ini file that they name.
#ifndef VRK_CLIENT_VRK_ENV_H
#define VRK_CLIENT_VRK_ENV_H

// Reads VRK_DATA_WAIT, VRK_GEN_WAIT, VRK_HDR_FMT, VRK_HOME, VRK_DATABUF, the
// main ini file named by KV_INI (default "/etc/korva2000.ini") and COLUMNS.
void vrk_getenv(void);

#endif
