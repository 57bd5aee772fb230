// The directory and file lines that the scan-only pass of a resource listing
// collects into gLL_DirList and gLL_FileList.
#ifndef VRK_ENGINE_SCAN_LISTING_H
#define VRK_ENGINE_SCAN_LISTING_H

#include <string>

#include "sms/smstypes.h"

// The line of a parent data set named dirName (a trailing '/' removed here);
// pushed to gLL_DirList or dropped as the resource list says.
void ListingAddDirectory(const std::string &dirName, const NWSM_SCAN_INFORMATION *scanInfo,
                         const char *pszInfo);
// The line of a child named childName in directory dirName.
void ListingAddFile(const std::string &dirName, const std::string &childName,
                    const NWSM_SCAN_INFORMATION *scanInfo, const char *pszInfo);

#endif
