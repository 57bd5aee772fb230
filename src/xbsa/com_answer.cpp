// Parsing the command-interface program's answer: keyword lines that set
// the storage node, saveset, tape, trace settings and the query results.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "runtime/password_mask.h"
#include "runtime/strlib.h"
#include "runtime/xutil.h"
#include "xbsa/com.h"
#include "xbsa/xbsa_session.h"
#include "xbsa/xbsa_trace.h"

namespace {

enum Keyword {
  kReply, kJobname, kMedia, kTapeServer, kDrive, kTape, kSavesetname, kFormat, kInitiator, kSegment,
  kLogfile, kVerbose, kMessage, kSessionID, kLifetime, kBackupsrc, kStartTim, kNone
};

// Looked up in this order; the first keyword that begins the line and is
// followed by '=', a blank or the line's end wins.
const char *const kKeywords[] = {"reply",     "jobname", "media",     "tape_server", "drive",    "tape",
                                 "savesetname", "format", "initiator", "segment",     "logfile",  "verbose",
                                 "message",   "sessionID", "lifetime", "backupsrc",   "start_tim"};

// Key words heed case and end at '=', a blank or the line's end.
Keyword keyword_of(const std::string &line) {
  for (size_t i = 0; i < sizeof kKeywords / sizeof kKeywords[0]; i++)
    if (x_MatchKeyword(line.c_str(), kKeywords[i], 0, "= ", TRUE)) return (Keyword)i;
  return kNone;
}

// The words "ERROR" and "OK" of the reply, in any case.
bool is_word(const std::string &value, const char *cpWord) {
  return x_MatchKeyword(value.c_str(), cpWord, 0, NULL, FALSE) == TRUE;
}

// The value behind '=', trimmed of blanks and tabs at both ends.
std::string trimmed_value(const std::string &line, size_t eq) {
  std::string value = line.substr(eq + 1);
  x_AllTrim(&value[0], " \t");
  return value.c_str();
}

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n' || c == '\r') {
      if (!cur.empty()) lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

// Copies a value into its field; a value that does not fit fails the answer.
bool set_field(char *cpField, size_t uiSize, const std::string &value, const char *cpKey) {
  if (value.size() >= uiSize) {
    xbsalog("parse_com_answer: value of %s longer than %u characters, answer refused.", cpKey,
            (unsigned)(uiSize - 1));
    return false;
  }
  memcpy(cpField, value.c_str(), value.size() + 1);
  return true;
}

bool parse_port(const char *cpPort, int *piPort) {
  if (!cpPort[0] || strspn(cpPort, "0123456789") != strlen(cpPort)) return false;
  long l = atol(cpPort);
  if (l < 1 || l > 65535) return false;
  *piPort = (int)l;
  return true;
}

struct AnswerState {
  long lCount = 0;
  bool bOK = false;
  BSA_ObjectDescriptor sPending;
};

// Query result "start_tim": local time "YYYY-MM-DD hh:mm:ss"; the parts
// that are missing count as 0.
void take_start_time(const std::string &value, BSA_ObjectDescriptor *pDesc) {
  int iYear = 0, iMon = 0, iDay = 0, iHour = 0, iMin = 0, iSec = 0;
  int iGot = sscanf(value.c_str(), "%04d-%02d-%02d %02d:%02d:%02d", &iYear, &iMon, &iDay, &iHour, &iMin, &iSec);
  if (iGot < 6) xbsatrace("parse_com_answer: sscanf got only %d from 6 items", iGot < 0 ? 0 : iGot);
  struct tm t;
  memset(&t, 0, sizeof t);
  t.tm_year = iYear - 1900;
  t.tm_mon = iMon - 1;
  t.tm_mday = iDay;
  t.tm_hour = iHour;
  t.tm_min = iMin;
  t.tm_sec = iSec;
  t.tm_isdst = -1;
  time_t tt = mktime(&t);
  struct tm local;
  if (tt != (time_t)-1 && localtime_r(&tt, &local)) t = local;
  pDesc->createTime = t;
  xbsalogtrace("parse_com_answer: createTime [%04d-%02d-%02d %02d:%02d:%02d]", t.tm_year + 1900, t.tm_mon + 1,
               t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

// Query result "backupsrc": completes the pending descriptor and appends it.
bool take_backup_source(const std::string &value, STUCT_COM_INPUT &in, AnswerState &st) {
  xbsatrace("parse_com_answer: set backupsrc [%s] (%d)", value.c_str(), (int)value.size());
  if (!set_field(in.szSrcSpec, sizeof in.szSrcSpec, value, "backupsrc")) return false;
  BSA_ObjectDescriptor &d = st.sPending;
  size_t at = value.find('@');
  if (at == std::string::npos) {
    xbsatrace("parse_com_answer: ERROR: '@' not found in [%s]!", value.c_str());
    d.objectName.objectSpaceName[0] = '\0';
    d.objectName.pathName[0] = '\0';
  } else {
    // Both parts are shorter than the answer's longest value.
    strlcpy(d.objectName.objectSpaceName, value.substr(0, at).c_str(), sizeof d.objectName.objectSpaceName);
    strlcpy(d.objectName.pathName, value.substr(at + 1).c_str(), sizeof d.objectName.pathName);
  }
  unsigned long long ullId = strtoull(in.szSavesetID, NULL, 10);
  d.copyId.left = (BSA_UInt32)(ullId >> 32);
  d.copyId.right = (BSA_UInt32)(ullId & 0xFFFFFFFFu);
  d.copyType = BSA_CopyType_BACKUP;
  d.objectType = BSA_ObjectType_FILE;
  if (strlen(in.szSessionID) >= sizeof d.rsv2) {
    xbsatrace("parse_com_answer: sessionID [%s] kept with its first %u characters in the result", in.szSessionID,
              (unsigned)(sizeof d.rsv2 - 1));
  }
  strlcpy(d.rsv2, in.szSessionID, sizeof d.rsv2);
  if (!sGlobal.LL_BSA_ObjectDescriptor) sGlobal.LL_BSA_ObjectDescriptor = ConsLL();
  if (!sGlobal.LL_BSA_ObjectDescriptor || !InsLastLLf(sGlobal.LL_BSA_ObjectDescriptor, sizeof d, &d)) {
    xbsalog("parse_com_answer: no memory for a query result.");
    return false;
  }
  memset(&d, 0, sizeof d);
  return true;
}

// Applies one keyword line; false fails the answer.
bool apply(Keyword kw, const std::string &line, const std::string &value, STUCT_COM_INPUT &in, AnswerState &st) {
  _sSMS &sms = sGlobal.sObject.sSMS;
  switch (kw) {
    case kReply:
      if (st.lCount > 0) {
        xbsatrace("parse_com_answer: Invalid reply format: First line must have \"reply=OK|ERRROR\" [%s].",
                  line.c_str());
        return false;
      }
      if (is_word(value, "ERROR")) {
        st.lCount++;
        st.bOK = false;
      } else if (is_word(value, "OK")) {
        st.lCount = 2;
        st.bOK = true;
      } else {
        xbsatrace("parse_com_answer: Invalid reply answer: [%s].", value.c_str());
        return false;
      }
      return true;
    case kMedia:
      return true;
    case kJobname:
      if (!set_field(in.szJobName, sizeof in.szJobName, value, "jobname")) return false;
      break;
    case kTapeServer: {
      char szPort[8];
      if (!ParseCLIHostSpec(value.c_str(), sms.szHostName, sizeof sms.szHostName, szPort, sizeof szPort,
                            sms.szUser, sizeof sms.szUser, sms.szPass, sizeof sms.szPass) ||
          !parse_port(szPort, &sms.iPort)) {
        xbsatrace("parse_com_answer: Parsing the CLI host entry failed: [%s].",
                  com_mask_answer("tape_server=" + value).c_str() + strlen("tape_server="));
        return false;
      }
      break;
    }
    case kDrive:
      if (!set_field(sms.szPath, sizeof sms.szPath, value, "drive")) return false;
      break;
    case kTape: {
      size_t c1 = value.find(':');
      if (c1 == std::string::npos) {
        xbsatrace("parse_com_answer: Tape label is missing: [%s].", value.c_str());
        return false;
      }
      if (!set_field(sms.szTape, sizeof sms.szTape, value.substr(0, c1), "tape")) return false;
      std::string rest = value.substr(c1 + 1);
      size_t c2 = rest.find(':');
      sms.ulTapeID = (unsigned long)atol(rest.substr(0, c2).c_str());
      if (c2 != std::string::npos) {
        std::string third = rest.substr(c2 + 1);
        sms.iTCPBufsiz = atoi(third.substr(0, third.find(':')).c_str());
      }
      break;
    }
    case kSavesetname: {
      size_t at = value.find('@');
      std::string name = value.substr(0, at);
      std::string restore = at == std::string::npos ? "" : value.substr(at + 1);
      if (name.size() >= sizeof in.szSavesetID || restore.size() >= sizeof in.szRestoreID) {
        xbsalog("parse_com_answer: savesetname [%s] too long, answer refused.", value.c_str());
        return false;
      }
      strlcpy(sms.szName, name.c_str(), sizeof sms.szName);
      strlcpy(in.szSavesetID, name.c_str(), sizeof in.szSavesetID);
      strlcpy(in.szRestoreID, restore.c_str(), sizeof in.szRestoreID);
      xbsatrace("parse_com_answer: szSavesetID [%s]", in.szSavesetID);
      break;
    }
    case kFormat:
      if (!set_field(sms.szInter, sizeof sms.szInter, value, "format")) return false;
      break;
    case kInitiator:
    case kLifetime:
      break;
    case kSegment:
      sms.ulSegmentNum = (unsigned long)atol(value.c_str());
      break;
    case kLogfile:
      if (!set_field(sGlobal.szLogFile, sizeof sGlobal.szLogFile, value, "logfile")) return false;
      break;
    case kVerbose:
      sGlobal.ucXBSATraceLevel = (unsigned char)atoi(value.c_str());
      break;
    case kMessage:
      if (st.bOK) {
        xbsatrace("parse_com_answer: MESSAGE: [%s]", value.c_str());
      } else {
        xbsatrace("parse_com_answer: ERROR MESSAGE: [%s]", value.c_str());
      }
      break;
    case kSessionID:
      xbsatrace("parse_com_answer: set szSessionID [%s]", value.c_str());
      if (!set_field(in.szSessionID, sizeof in.szSessionID, value, "sessionID")) return false;
      break;
    case kBackupsrc:
      if (!take_backup_source(value, in, st)) return false;
      break;
    case kStartTim:
      take_start_time(value, &st.sPending);
      break;
    case kNone:
      return false;
  }
  st.lCount++;
  return true;
}

}  // namespace

std::string com_mask_answer(const std::string &answer) {
  std::string out;
  size_t pos = 0;
  while (pos < answer.size()) {
    size_t end = answer.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = answer.size();
    std::string line = answer.substr(pos, end - pos);
    if (keyword_of(line) == kTapeServer) {
      // The password is everything after the third ':' of the value.
      size_t eq = line.find('=');
      size_t c = eq;
      for (int i = 0; i < 3 && c != std::string::npos; i++) c = line.find(':', c + 1);
      if (eq != std::string::npos && c != std::string::npos) line = line.substr(0, c + 1) + VRK_PASSWORD_MASK;
    }
    out += line;
    size_t brk = answer.find_first_not_of("\r\n", end);
    if (brk == std::string::npos) brk = answer.size();
    out += answer.substr(end, brk - end);
    pos = brk;
  }
  return out;
}

int parse_com_answer(char *I_bypBuff, unsigned int I_uiBuffLen, STUCT_COM_INPUT *I_spCOMInput) {
  if (!I_bypBuff || !I_spCOMInput) return 0;
  std::string text(I_bypBuff, strnlen(I_bypBuff, I_uiBuffLen));
  AnswerState st;
  memset(&st.sPending, 0, sizeof st.sPending);
  long lLine = 0;
  for (const std::string &line : split_lines(text)) {
    lLine++;
    xbsalog("parse_com_answer: (%ld) [%s].", lLine, com_mask_answer(line).c_str());
    Keyword kw = keyword_of(line);
    if (kw == kNone) {
      xbsatrace("parse_com_answer: Invalid reply format:: [%s].", line.c_str());
      return 0;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      xbsalog("parse_com_answer: ERROR: No '=' found in [%s].", line.c_str());
      return 0;
    }
    std::string value = trimmed_value(line, eq);
    if (value.size() > COM_VALUE_MAX) {
      xbsalog("parse_com_answer: value longer than %d characters, answer refused: [%.40s...].", COM_VALUE_MAX,
              com_mask_answer(line).c_str());
      return 0;
    }
    if (!apply(kw, com_mask_answer(line), value, *I_spCOMInput, st)) return 0;
  }
  if (st.lCount > 1 && st.bOK) {
    xbsatrace("parse_com_answer: return OK");
    return 1;
  }
  if (st.lCount > 1) {
    xbsatrace("parse_com_answer: return ERROR");
    return 0;
  }
  xbsatrace("parse_com_answer: Invalid reply format::: [%s].", "");
  return 0;
}
