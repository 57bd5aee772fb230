// The option handlers of the connections: -S storage node, -N SMS login and
// -C control host (their passwords masked in argv).
#ifndef VRK_CLIENT_VRK_OPTCONN_H
#define VRK_CLIENT_VRK_OPTCONN_H

// Each returns true when the argument was taken, false after its messages;
// a password in the argument is blanked in argv in either case.
bool vrk_opt_storage_node(char *cpArg, int argc, char **argv);
bool vrk_opt_sms_login(char *cpArg, int argc, char **argv);
bool vrk_opt_control_host(char *cpArg, int argc, char **argv);

#endif
