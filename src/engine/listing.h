// Resource listing of a TSA for browsing: resource lines with their used
// size, GroupWise components, the directory check and the line comparator.
#ifndef VRK_ENGINE_LISTING_H
#define VRK_ENGINE_LISTING_H

#include <string>

#include "engine/session.h"

// Lists the resources of the connected TSA below szRoot into the listing lists.
void list_resources(SESSION_INFORMATION *sessionInfo, char *szRoot, NWBOOLEAN bGotClusterTSA);
// TRUE when cpFile is a directory that the TSA reports back under the same
// name; the out-parameter, when given, receives its creator name space.
NWBOOLEAN CheckTSAPath(SESSION_INFORMATION *sessionInfo, char *cpFile,
                       UINT32 *pCreatorNameSpaceNumber);
// strcmp of two listing lines (byte order).
int i_COMPARE_LINE(const void *cpFirst, const void *cpSecond);

// Used bytes of a resource: block size times (total minus free) blocks, 0
// when the counts say more blocks are free than exist.
UINT64 ResourceUsedSize(UINT32 blockSize, UINT32 totalBlocks, UINT32 freeBlocks);
// The line of a resource (mount point) of the given used size.
std::string ResourceListingLine(const std::string &name, UINT64 size);
// The line of the not selectable root "/" of a cluster file system.
std::string ClusterRootListingLine(UINT64 size);
// The line of a GroupWise component with its home directory.
std::string ComponentListingLine(const std::string &component, UINT64 size,
                                 const std::string &home);
// The GroupWise part of a listing below szRoot (component and subdirectory
// split from it); the resources are already in gLL_ResourceList.
void ListGroupWiseComponents(SESSION_INFORMATION *sessionInfo, char *szRoot,
                             const std::string &component, const std::string &subdir,
                             NWBOOLEAN bGotClusterTSA);
// Disk usage of a home directory on the node in bytes ("MSG=" in KiB), 0
// when the query fails.
UINT64 GW_HomeSize(const std::string &dir, const std::string &home);

#endif
