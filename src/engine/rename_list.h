// The restore rename list: pairs of source and destination paths that move
// restored parents to new names, and the lookup of a parent's new name.
#ifndef VRK_ENGINE_RENAME_LIST_H
#define VRK_ENGINE_RENAME_LIST_H

#include "engine/session.h"

// Characters of a source or destination the list takes; longer ones are refused.
#define RENAME_PATH_MAX 1999

typedef struct _SinglePair {
  UINT32 nameSpace;   // the TSA name space both paths are written in
  char *source;       // heap
  char *destination;  // heap
  struct _SinglePair *next;
} SinglePair;

// First node of the list, NULL when empty; nodes in the order they were added.
extern SinglePair *head;
// UTF-8 forms of the pair being compared (heap, NULL when none).
extern char *sourceUTF8;
extern char *destUTF8;

// Adds one pair (normalised by the TSA); 0 or the failing completion code.
CCODE RenameRestore(SESSION_INFORMATION *sessionInfo, char *source_arg, char *dest_arg);
// Appends the node at the end of the list.
void Insert(SinglePair *pair);
// Traces the list.
void DisplayRenameList(void);
// Releases every node; the list is then empty.
void FreeRenameList(void);
// The new one-name list of a parent from the first pair that applies; none
// (*newNameList untouched) when no pair applies. 0 or the failing code.
CCODE GetNewName(UINT32 connection, NWSM_DATA_SET_NAME_LIST *origNameList, NWSM_DATA_SET_NAME_LIST **newNameList,
                 int iPlainFlag, SESSION_INFORMATION *sessionInfo);

#endif
