// The steps after the options: operation arguments, PUT.IN, the job log, the
// relocation hand-off, the checks, the start-up messages and the DATA argument.
#ifndef VRK_CLIENT_VRK_OPTPOST_H
#define VRK_CLIENT_VRK_OPTPOST_H

// What the options leave for the steps after them.
struct OptState {
  bool bControlLogName = false;  // -L CONTROL gave a file name
  bool bDataArgGiven = false;    // -O gave the DATA argument
  int iRArgs = 0;                // -R arguments in szTargetArg[1..iRArgs]
};

// Runs the steps for the arguments argv[iFirst..argc); 0 or -1.
int vrk_after_options(int argc, char **argv, int iFirst, const OptState *st);

#endif
