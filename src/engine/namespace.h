// Name spaces and selection types of the TSA: the name space the engine works
// in, the local and UTF-8 name-space numbers, their texts, and the session's
// selection list.
#ifndef VRK_ENGINE_NAMESPACE_H
#define VRK_ENGINE_NAMESPACE_H

#include "engine/session.h"

// No name space chosen (an error or the user's Quit).
#define NO_NAME_SPACE 100u
// Bytes of the texts SetNameSpaceType and SetSelectionType write.
#define NAME_SPACE_TEXT_SIZE NWSM_MAX_STRING_LEN

UINT32 GetNameSpace(SESSION_INFORMATION *sessionInfo);
// string: NAME_SPACE_TEXT_SIZE bytes.
void SetNameSpaceType(UINT32 selectedNameSpaceType, char *string, SESSION_INFORMATION *sessionInfo);
// string: NAME_SPACE_TEXT_SIZE bytes; left unchanged when no type matches.
void SetSelectionType(UINT32 selectionType, char *string, SESSION_INFORMATION *sessionInfo);
UINT32 MapToUtf8NameSpace(UINT32 nameSpaceType);
UINT32 MapToMBCSNameSpace(UINT32 nameSpaceType);
void DisplaySelectionList(SESSION_INFORMATION *sessionInfo);
void FreeSelectionList(SESSION_INFORMATION *sessionInfo);
UINT32 GetSelectionType(SESSION_INFORMATION *sessionInfo);
void ListSelectionStrings(SESSION_INFORMATION *sessionInfo);
void ListScanTypeStrings(SESSION_INFORMATION *sessionInfo);

#endif
