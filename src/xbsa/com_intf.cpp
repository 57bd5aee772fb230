// Running one task of the command-interface program: the step machine, the
// argument vector per task, the blocked signals and the bounded answer.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <new>
#include <string>
#include <vector>

#include "runtime/strlib.h"
#include "runtime/x_dump.h"
#include "xbsa/com.h"
#include "xbsa/xbsa_session.h"
#include "xbsa/xbsa_trace.h"

namespace {

// The argument vector and its display text for the log.
struct ComLine {
  std::string text;
  std::vector<std::string> argv;

  explicit ComLine(const char *cpProgram) : text(cpProgram), argv{cpProgram} {}
  void add(const char *cpFlag, const std::string &value, const char *cpSep = " ") {
    text += cpSep;
    text += cpFlag;
    text += ' ';
    text += value;
    argv.push_back(cpFlag);
    argv.push_back(value);
  }
  void flag(const char *cpFlag) {
    text += ' ';
    text += cpFlag;
    argv.push_back(cpFlag);
  }
  void optional(const char *cpFlag, const char *cpValue, const char *cpSep = " ") {
    if (cpValue[0] != '\0') add(cpFlag, cpValue, cpSep);
  }
};

void job_options(ComLine &l, const STUCT_COM_INPUT &in) {
  l.optional("-S", in.szKORVATapeServer);
  l.optional("-d", in.szDrive);
  l.optional("-m", in.szPool);
  l.optional("-W", in.szCOMTimeOut);
  l.optional("--", in.szSrcSpec, "  ");
}

// What the task asks for: run the program, end with a result at once.
enum Plan { kRun, kFail, kDone };

Plan build_line(ENUM_COM_TASK eTask, STUCT_COM_INPUT &in, ComLine &l) {
  switch (eTask) {
    case COM_OPEN_SESSION:
      sCOMGlobal.iCOMStepCompleted = 0;
      uiCOMCurrentStep = COM_STEP_OPEN_SESSION;
      xbsatrace("com_intf: COM interface [%d - %s] step: %s", (int)eTask, com_task_keyword(eTask),
                com_step_keyword((int)uiCOMCurrentStep));
      l.add("-b", "open");
      l.add("-C", in.szKORVAServer);
      l.add("-j", in.szJobName);
      l.add("-I", in.szInitiator);
      return kRun;
    case COM_OPEN_WRITE:
    case COM_OPEN_READ: {
      if (uiCOMCurrentStep == COM_STEP_INIT) {
        xbsalog("com_intf: ERROR: VRK_COM Session not yet opened");
        SysErrorTxt(0, 0, "com_intf: the command session is not open.");
        return kFail;
      }
      uiCOMCurrentStep = COM_STEP_OPEN_JOB;
      bool bWrite = eTask == COM_OPEN_WRITE;
      if (bWrite) {
        xbsatrace("com_intf: COM interface [%d - %s] step: %s", (int)eTask, com_task_keyword(eTask),
                  com_step_keyword((int)uiCOMCurrentStep));
      } else {
        const BSA_UInt64 &id = sGlobal.sObject.sBSA_Object.copyId;
        unsigned long long ullId = ((unsigned long long)id.left << 32) | id.right;
        snprintf(in.szSavesetID, sizeof in.szSavesetID, "%llu", ullId);
        xbsalogtrace("com_intf(): COPYID: %lu:%lu", (unsigned long)id.left, (unsigned long)id.right);
        xbsalogtrace("com_intf(): SAVESETID: %llu", ullId);
        xbsatrace("com_intf: COM interface step: [%d - %s].", (int)uiCOMCurrentStep,
                  com_step_keyword((int)uiCOMCurrentStep));
      }
      l.add(bWrite ? "-b" : "-r", std::string("openjob:") + in.szMySessionID);
      l.add("-C", in.szKORVAServer);
      l.add("-j", in.szJobName);
      l.add("-s", in.szSavesetID);
      l.add("-I", in.szInitiator);
      job_options(l, in);
      return kRun;
    }
    case COM_CLOSE_WRITE:
    case COM_CLOSE_READ: {
      if (uiCOMCurrentStep == COM_STEP_OPEN_JOB) uiCOMCurrentStep = COM_STEP_CLOSE_JOB;
      xbsatrace("com_intf: COM interface step: [%d - %s].", (int)uiCOMCurrentStep,
                com_step_keyword((int)uiCOMCurrentStep));
      if (uiCOMCurrentStep != COM_STEP_CLOSE_JOB || !(sCOMGlobal.iCOMStepCompleted & COM_STEP_OPEN_JOB)) {
        xbsatrace("com_intf: ERROR: No JOB opened - nothing to do");
        return kDone;
      }
      std::string saveset = in.szSavesetID;
      if (in.szRestoreID[0] != '\0') saveset += std::string("@") + in.szRestoreID;
      l.add(eTask == COM_CLOSE_WRITE ? "-b" : "-r", std::string("closejob:") + in.szMySessionID);
      l.add("-C", in.szKORVAServer);
      l.add("-j", in.szJobName);
      l.add("-s", saveset);
      l.add("-I", in.szInitiator);
      l.add("-i", std::to_string(in.iJobResult));
      return kRun;
    }
    case COM_CLOSE_SESSION:
      if (uiCOMCurrentStep == COM_STEP_INIT) {
        xbsalog("com_intf: ERROR: Session already closed, recent step was [%s]",
                com_step_keyword((int)uiCOMCurrentStep));
      }
      xbsatrace("com_intf: COM interface [%d - %s] step: %s", (int)eTask, com_task_keyword(eTask),
                com_step_keyword((int)uiCOMCurrentStep));
      l.add("-b", std::string("close:") + in.szMySessionID);
      l.add("-C", in.szKORVAServer);
      l.add("-I", in.szInitiator);
      l.add("-i", std::to_string(in.iSessionResult));
      return kRun;
    case COM_INFO:
      l.flag("-q");
      l.add("-C", in.szKORVAServer);
      l.add("-j", in.szJobName);
      l.add("-s", "NULL");
      l.add("-I", in.szInitiator);
      l.optional("--", in.szSrcSpec, "  ");
      return kRun;
    case COM_REMOVE:
      return kRun;
  }
  xbsalog("com_intf: Invalid input mode: [%d].", (int)eTask);
  return kFail;
}

// Reads the program's whole standard output into answer. false when the
// answer would not fit its buffer (the program is then ended unread).
bool read_answer(int fd, std::vector<char> &buffer, size_t *puiLen) {
  size_t uiLen = 0;
  for (;;) {
    char *cpAt = buffer.data() + uiLen;
    size_t uiRoom = COM_ANSWER_MAX - uiLen;
    char cExtra;
    // With the buffer full, one more byte tells an answer of exactly the
    // limit from a longer one.
    ssize_t n = uiRoom > 0 ? read(fd, cpAt, uiRoom) : read(fd, &cExtra, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      xbsalog("com_intf: Answer could not be read. Error while reading COM utility STDOUT.");
      break;
    }
    if (n == 0) break;
    if (uiRoom == 0) {
      *puiLen = uiLen;
      return false;
    }
    uiLen += (size_t)n;
    xbsatrace("com_intf: Answer received, bytes read: [%d].", (int)n);
  }
  *puiLen = uiLen;
  return true;
}

}  // namespace

int com_intf(ENUM_COM_TASK I_enumCOMTask, STUCT_COM_INPUT *I_spCOMInput) {
  xbsatrace("com_intf: >>>>> Entering COM section - task [%s] - last step [%s] <<<<<",
            com_task_keyword(I_enumCOMTask), com_step_keyword((int)uiCOMCurrentStep));
  if (!I_spCOMInput) {
    xbsalog("com_intf: no input record.");
    return 0;
  }
  std::vector<char> buffer;
  try {
    buffer.assign(COM_ANSWER_BUFFER, '\0');
  } catch (const std::bad_alloc &) {
    xbsalog("com_intf: no memory for the answer.");
    return 0;
  }

  xbsatrace("com_intf: Searching COM Interface utility...");
  if (szCOM_EXE[0] == '\0') {
    unsigned int uiLen = sizeof szCOM_EXE;
    if (find_com_intf(szCOM_EXE, &uiLen) != 1) {
      // Looked for on PATH from now on.
      strlcpy(szCOM_EXE, COM_PROGRAM, sizeof szCOM_EXE);
      char szCwd[1024];
      if (!getcwd(szCwd, sizeof szCwd)) strlcpy(szCwd, "?", sizeof szCwd);
      xbsatrace("com_intf: Path not found for COM utility executable: [%s]", szCOM_EXE);
      xbsatrace("com_intf: Try in current directory [%s]", szCwd);
    }
  }
  xbsatrace("com_intf: COM utility executable: [%s]", szCOM_EXE);

  int iRc = 0;
  bool bBlocked = false;
  sigset_t sOldMask;
  COM_CHILD child;
  bool bKill = false;
  ComLine line(szCOM_EXE);
  Plan plan = build_line(I_enumCOMTask, *I_spCOMInput, line);
  if (plan == kDone) iRc = 1;
  if (plan == kRun) {
    sigset_t sAll;
    sigfillset(&sAll);
    bBlocked = sigprocmask(SIG_SETMASK, &sAll, &sOldMask) == 0;
    xbsatrace("com_intf: sigprocmask() done.");
    // Standard error goes to /dev/null; no shell sees the arguments.
    xbsalog("com_intf: COM COMMAND: [%s 2>/dev/null]", line.text.c_str());
    if (!com_start_child(line.argv, &child)) {
      int iErr = errno;
      xbsalog("com_intf: COM Interface command could not be executed.");
      SysErrorTxt((unsigned long)iErr, 2, "com_intf: %s could not be started.", szCOM_EXE);
    } else {
      xbsatrace("com_intf: Pipe handle hCOM_STDOUT = [%d].", child.fdOut);
      size_t uiLen = 0;
      if (!read_answer(child.fdOut, buffer, &uiLen)) {
        bKill = true;
        xbsalog("com_intf: Answer longer than %u bytes, refused.", (unsigned)COM_ANSWER_MAX);
        SysErrorTxt(0, 0, "com_intf: the answer to %s is longer than %u bytes.", com_task_keyword(I_enumCOMTask),
                    (unsigned)COM_ANSWER_MAX);
      } else {
        buffer[uiLen] = '\0';
        std::string shown = com_mask_answer(std::string(buffer.data(), strnlen(buffer.data(), uiLen)));
        xbsatrace("com_intf: Got %u bytes", (unsigned)uiLen);
        xbsatrace("com_intf: Got answer [%s]", shown.c_str());
        if (uiLen == 0) {
          xbsatrace("com_intf: COM answer not received. uiAnswerLen = %d", (int)uiLen);
          SysErrorTxt(0, 0, "com_intf: no answer to %s.", com_task_keyword(I_enumCOMTask));
        } else {
          xbsadetailtrace("com_intf: Dumping COM interface answer:");
          x_Dump(&shown[0], (unsigned long)shown.size(), DumpTraceAdapter);
          xbsatrace("com_intf: Parsing COM answer ...");
          iRc = parse_com_answer(buffer.data(), (unsigned int)uiLen, I_spCOMInput);
          xbsatrace("com_intf: parse_com_answer() exit with code: [%d].", iRc);
          if (iRc == 1) {
            sCOMGlobal.iCOMStepCompleted |= (int)uiCOMCurrentStep;
            if (I_enumCOMTask == COM_OPEN_SESSION) {
              xbsatrace("com_intf: parse_com_answer() COM_OPEN_SESSION set own session ID to [%s].",
                        I_spCOMInput->szSessionID);
              strlcpy(I_spCOMInput->szMySessionID, I_spCOMInput->szSessionID, sizeof I_spCOMInput->szMySessionID);
            }
          } else {
            SysErrorTxt(0, 0, "com_intf: the command interface refused %s.", com_task_keyword(I_enumCOMTask));
          }
        }
      }
    }
  }

  sCOMGlobal.iCOMTasksCompleted |= (int)I_enumCOMTask;
  if (bBlocked) sigprocmask(SIG_SETMASK, &sOldMask, NULL);
  xbsatrace("com_intf: sigprocmask(), back to old handlers.");
  // The output is read to its end (or the program ended) before the wait.
  com_end_child(&child, bKill);
  xbsatrace("com_intf: <<<<< Exiting COM section >>>>>");
  return iRc;
}
