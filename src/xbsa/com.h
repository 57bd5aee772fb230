// Command interface internals: the step machine of the command session, the
// program lookup, the answer parser and the storage-node host entry.
#ifndef VRK_XBSA_COM_H
#define VRK_XBSA_COM_H

#include <stddef.h>

#include <string>
#include <vector>

#include "runtime/vrk_types.h"
#include "xbsa/xbsa_com.h"

// Steps of the command session (uiCOMCurrentStep).
#define COM_STEP_INIT 0
#define COM_STEP_OPEN_SESSION 1
#define COM_STEP_OPEN_JOB 2
#define COM_STEP_CLOSE_JOB 4
#define COM_STEP_CLOSE_SESSION 8

// Name of the server's command-interface program.
#define COM_PROGRAM "vrk_com_interface"
// The product's bootstrap ini that may name the program's directory.
#define COM_INI_FILE "/etc/korva2000.ini"
#define COM_INI_KEY "KV_BIN_KORVA"
// Answer buffer: the answer itself may fill all but the terminating NUL.
#define COM_ANSWER_BUFFER 0x20000
#define COM_ANSWER_MAX (COM_ANSWER_BUFFER - 1)
// Longest value of an answer line.
#define COM_VALUE_MAX 511
// Port of the storage node when the host entry names none.
#define COM_DEFAULT_PORT "11001"
// User that makes the FTP-like transport log in with its secure login.
#define COM_SECURE_USER "KORVA_SECURE_AUTHENTICATION"

typedef struct {
  int iCOMTasksCompleted;  // every task run so far, OR-ed
  int iCOMStepCompleted;   // steps whose answer was OK, OR-ed
} STUCT_COM_GLOBAL;

extern STUCT_COM_GLOBAL sCOMGlobal;
extern unsigned int uiCOMCurrentStep;
extern char szCOM_EXE[1024];

// Looks up the program's directory in the bootstrap ini: 1 when cpCOMCMD
// holds a program path. *uipCOMCMDLen: buffer size in, value length out.
int find_com_intf(char *cpCOMCMD, unsigned int *uipCOMCMDLen);

// Parses one answer of the program into the record, the current object's
// storage node and the trace settings: 1 for an OK answer, else 0.
int parse_com_answer(char *I_bypBuff, unsigned int I_uiBuffLen, STUCT_COM_INPUT *I_spCOMInput);

// Splits "host[:port[:user[:password]]]" into bounded outputs; FALSE when
// the entry is empty, has no host, more than four fields, a user without a
// password, or a field that does not fit its buffer.
BOOL ParseCLIHostSpec(const char *cpHostSpecStr, char *cpHost, size_t uiHostLen, char *cpPort, size_t uiPortLen,
                      char *cpUser, size_t uiUserLen, char *cpPasswd, size_t uiPasswdLen);

const char *com_task_keyword(ENUM_COM_TASK eTask);
const char *com_step_keyword(int iStep);

// Line callback of the memory dump for the detail trace.
void DumpTraceAdapter(char *cpDumpLine);

// The answer text with the storage node's password of every "tape_server"
// line replaced by the password mask, for traces.
std::string com_mask_answer(const std::string &answer);

// A started program: its process and the read end of its standard output.
struct COM_CHILD {
  int pid = -1;
  int fdOut = -1;
};

// Starts the program with the argument vector (argv[0] looked up in PATH
// when it holds no '/'), standard output to a pipe, standard error to
// /dev/null; the current signal mask is inherited. false with errno set.
bool com_start_child(const std::vector<std::string> &argv, COM_CHILD *pChild);
// Closes the pipe, ends the program first when bKill, and waits for it.
void com_end_child(COM_CHILD *pChild, bool bKill);

// Tests only: reads the program's directory from this file instead of the
// bootstrap ini (NULL restores it).
void com_set_ini_file(const char *cpFile);
// Tests only: forgets the program path, the step and the task records.
void com_reset_state();

#endif
