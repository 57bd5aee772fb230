// The option handlers of the connections: -S storage node, -N SMS login
// (masked in argv) and -C control host.
#ifndef VRK_CLIENT_VRK_OPTCONN_H
#define VRK_CLIENT_VRK_OPTCONN_H

// Each returns true when the argument was taken, false after its messages.
bool vrk_opt_storage_node(const char *cpArg);
bool vrk_opt_sms_login(char *cpArg, int argc, char **argv);
bool vrk_opt_control_host(const char *cpArg);

#endif
