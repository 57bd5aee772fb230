// Erasing and renaming one data set on the TSA: the name asked for in the
// console or given, found through a scan, checked, then deleted or renamed.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "engine/console.h"
#include "engine/engine_globals.h"
#include "engine/namespace.h"
#include "engine/restore.h"
#include "runtime/vrk_log.h"

namespace {

enum Action { kErase, kRename };

// Asks "f" or "d" in the console: true for a file.
bool ask_kind(const char *prompt) {
  console_write(prompt);
  char c = 0;
  GetCharacter(&c);
  return c != 'd' && c != 'D';
}

void ask_line(char *out) {
  char line[CONSOLE_USER_MAX + 1];
  getun(line);
  strncpy(out, line, RESTORE_NAME_MAX);
  out[RESTORE_NAME_MAX] = '\0';
}

// The name of a list entry in the name space, or in its UTF-8 form.
bool name_in(const NWSM_DATA_SET_NAME_LIST *list, UINT32 nameSpace, std::string *out) {
  NWSM_DATA_SET_NAME n;
  memset(&n, 0, sizeof(n));
  CCODE ccode = NWSMGetDataSetName(list, nameSpace, &n);
  if (ccode != 0) ccode = NWSMGetDataSetName(list, MapToUtf8NameSpace(nameSpace), &n);
  if (ccode != 0) return false;
  *out = n.name != nullptr ? n.name : "";
  NWSMFreeDataSetName(&n);
  return true;
}

void act(SESSION_INFORMATION *sessionInfo, Action action, const char *cpSource, const char *cpTarget) {
  const char *verb = action == kErase ? "delete: " : "rename";
  UINT32 nameSpace = GetNameSpace(sessionInfo);
  if (nameSpace == NO_NAME_SPACE) return;
  NWBOOLEAN reverse = 0;
  STRING_BUFFER *first = nullptr, *next = nullptr;
  CCODE ccode = NWSMTSGetNameSpaceTypeInfo(sessionInfo->connection, nameSpace, &reverse, &first, &next);
  if (ccode != 0) {
    if (action == kRename) printf("\nNWSMTSGetNameSpaceTypeInfo:   ccode = 0X%lX\n", (unsigned long)ccode);
    else PrintCode(TRUE, ccode, "NWSMTSGetNameSpaceTypeInfo", 0, sessionInfo);
  }

  bool isFile = true;
  char name[RESTORE_NAME_MAX + 1] = "";
  char newName[RESTORE_NAME_MAX + 1] = "";
  bool ok = true;
  if (cpSource != nullptr) {
    // Refused rather than cut: a shortened name could name another data set.
    if (strlen(cpSource) > RESTORE_NAME_MAX || (cpTarget != nullptr && strlen(cpTarget) > RESTORE_NAME_MAX)) {
      vrk_log(1500, "%s: data-set name longer than %d characters: [%.64s...]",
              action == kErase ? "EraseFile" : "RenameFile", RESTORE_NAME_MAX, cpSource);
      ok = false;
    } else {
      strcpy(name, cpSource);
      if (action == kErase) trace("%l4 EraseFile: [%s]", name);
    }
  } else {
    isFile = ask_kind(action == kErase ? "\nDelete File or Directory? (f/d): " : "\nRename File or Directory? (f/d): ");
    char prompt[64];
    snprintf(prompt, sizeof(prompt), "\nEnter %s to %s: ", isFile ? "file" : "directory", verb);
    console_write(prompt);
    ask_line(name);
    if (action == kErase) vrk_log(3500, "EraseFile: [%s]", name);
  }
  if (ok && action == kRename) {
    if (cpTarget != nullptr) {
      strcpy(newName, cpTarget);
    } else {
      char prompt[64];
      snprintf(prompt, sizeof(prompt), "Enter new %s %s: ", isFile ? "file" : "directory", "name");
      console_write(prompt);
      ask_line(newName);
    }
  }

  NWSM_DATA_SET_NAME_LIST *list = nullptr;
  UINT32 sequence = 0;
  NWSM_SCAN_INFORMATION *scanInfo = nullptr;
  NWSM_DATA_SET_NAME_LIST *names = nullptr;
  char *parent = nullptr, *child = nullptr;
  if (ok) {
    ccode = NWSMPutOneName(&list, nameSpace, 0, reverse, first != nullptr ? first->string : "",
                           next != nullptr ? next->string : "", name);
    if (ccode != 0) {
      PrintCode(TRUE, ccode, "NWSMPutOneName", 0, sessionInfo);
      ok = false;
    }
  }
  if (ok) {
    ccode = NWSMTSScanDataSetBegin(sessionInfo->connection, list, &sessionInfo->scanControl, nullptr, &sequence,
                                   &scanInfo, &names);
    if (ccode != 0) {
      PrintCode(TRUE, ccode, "NWSMTSScanDataSetBegin", 0, sessionInfo);
      ok = false;
    }
  }
  if (ok && isFile) {
    ccode = NWSMTSScanNextDataSet(sessionInfo->connection, &sequence, &scanInfo, &names);
    if (ccode != 0) {
      PrintCode(TRUE, ccode, "NWSMTSScanNextDataSet", 0, sessionInfo);
      ok = false;
    }
  }
  if (ok) {
    std::string scanned;
    if (!name_in(names, nameSpace, &scanned)) scanned.clear();
    ccode = NWSMTSSeparateDataSetName(sessionInfo->connection, nameSpace, name, &parent, &child);
    if (ccode != 0) {
      PrintCode(TRUE, ccode, "NWSMTSSeparateDataSetName", 0, sessionInfo);
      ok = false;
    } else if (isFile) {
      const char *cpChild = child != nullptr ? child : "";
      if (strcasecmp(cpChild, scanned.c_str()) != 0) {
        if (action == kErase) {
          vrk_log(1500, "Cannot delete this data set: [%s] <> [%s]!", cpChild, scanned.c_str());
        } else {
          printf("\nCannot Rename This Data Set!");
          vrk_log(3500, "Cannot Rename %s", name);
        }
        ok = false;
      }
    } else {
      std::string dir = name;
      if (dir.empty() || dir.back() != '/') dir += "/";
      if (dir != scanned) {
        if (action == kErase) {
          vrk_log(1500, "Cannot delete this directory: [%s] <> [%s]!", dir.c_str(), scanned.c_str());
        } else {
          printf("\nCannot Rename This Data Set!");
          vrk_log(3500, "Cannot Rename %s", name);
        }
        ok = false;
      }
    }
  }
  if (ok) {
    if (action == kErase) {
      trace("%l4 Delete: %s", name);
      ccode = NWSMTSDeleteDataSet(sessionInfo->connection, sequence);
      if (ccode != 0) PrintCode(FALSE, ccode, "NWSMTSDeleteDataSet", 0, sessionInfo);
    } else {
      printf("Rename %s to %s\n", name, newName);
      vrk_log(3500, "Rename %s to %s", name, newName);
      ccode = NWSMTSRenameDataSet(sessionInfo->connection, sequence, nameSpace, newName);
      if (ccode != 0) PrintCode(TRUE, ccode, "NWSMTSRenameDataSet", 0, sessionInfo);
    }
  }
  if (sequence != 0) NWSMTSScanDataSetEnd(sessionInfo->connection, &sequence, &scanInfo, &names);
  free(list);
  free(parent);
  free(child);
  NWSMFreeString(first);
  NWSMFreeString(next);
}

}  // namespace

void EraseFile(SESSION_INFORMATION *sessionInfo, char *cpFile) { act(sessionInfo, kErase, cpFile, nullptr); }

void RenameFile(SESSION_INFORMATION *sessionInfo, char *cpSource, char *cpTarget) {
  // A given source with no new name asks for the new name.
  act(sessionInfo, kRename, cpSource, cpTarget);
}
