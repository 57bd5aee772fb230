// list_resources: the resources of the connected TSA with their used size,
// the volume filter, the cluster root line and the name spaces of each.
#include "engine/listing.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "client/vrk_global.h"
#include "engine/connection.h"
#include "engine/engine_globals.h"
#include "runtime/vrk_log.h"

namespace {

const char kLinuxFS[] = "Linux File System";
const char kLinuxClusterFS[] = "Linux Cluster File System";
const char kGW2012[] = "GroupWise System 2012";

const char *text(const char *s) { return s != nullptr ? s : ""; }

void push_line(t_LL list, const std::string &line) {
  if (list != nullptr) InsLastLLf(list, line.size() + 1, line.c_str());
}

// Volume filter: TRUE when the resource is an NSS volume.
bool is_nss_volume(SESSION_INFORMATION *sessionInfo, const char *name) {
  UINT32 size = 0;
  CCODE cc = NWSMTSGetTargetResourceInfoEx(sessionInfo->connection, name, &size, nullptr);
  if (cc == NWSMTS_INVALID_PARAMETER) {
    trace("%l4 list_resources: got NWSMTS_INVALID_PARAMETER");
    return false;
  }
  if (cc != 0) {
    trace("%l4 list_resources: got error cCode 0X%X", (unsigned)cc);
    return false;
  }
  std::vector<BUFFER> info(size > 0 ? size : 1);
  cc = NWSMTSGetTargetResourceInfoEx(sessionInfo->connection, name, &size, info.data());
  if (cc != 0) {
    trace("%l4 list_resources: NWSMTSGetTargetResourceInfoEx returned error cCode 0X%X",
          (unsigned)cc);
    PrintCode(1, cc, "list_resources", 6546, sessionInfo);
    return false;
  }
  void *extension = nullptr;
  UINT32 handle = 0;
  cc = NWSMGetExtension(info.data(), size, NWSM_RESOURCE_EXT_MOUNT_TYPE, &extension, &handle);
  if (cc != 0) {
    char msg[NWSM_MAX_ERROR_TEXT_LEN] = "";
    NWSMConvertError(sessionInfo->connection, cc, msg);
    trace("%l4 list_resources: NWSMGetExtension returned error cCode 0X%X", (unsigned)cc);
    trace("%l4 list_resources: NWSMGetExtension returned '%s'", msg);
    return false;
  }
  std::string mountType = extension != nullptr ? static_cast<const char *>(extension) : "";
  NWSMCloseExtension(&handle);
  if (mountType == "nssvol") {
    trace("%l4 list_resources: mount type '%s' > use it", mountType.c_str());
    return true;
  }
  trace("%l4 list_resources: mount type '%s' > skip it", mountType.c_str());
  return false;
}

// Used size of a resource; a failed query gives 0.
UINT64 resource_size(SESSION_INFORMATION *sessionInfo, const char *name) {
  UINT32 blockSize = 0, totalBlocks = 0, freeBlocks = 0, purgeable = 0, notYetPurgeable = 0;
  UINT32 migrated = 0, precompressed = 0, compressed = 0;
  NWBOOLEAN removable = 0;
  CCODE cc = NWSMTSGetTargetResourceInfo(sessionInfo->connection, name, &blockSize, &totalBlocks,
                                         &freeBlocks, &removable, &purgeable, &notYetPurgeable,
                                         &migrated, &precompressed, &compressed);
  if (cc != 0) {
    trace("%l4 list_resources: NWSMTSGetTargetResourceInfo returned error cCode 0X%X > size 0",
          (unsigned)cc);
    return 0;
  }
  trace("%l4 list_resources: block size: %lu, total size: %lu, free size %lu",
        (unsigned long)blockSize, (unsigned long)totalBlocks, (unsigned long)freeBlocks);
  UINT64 size = ResourceUsedSize(blockSize, totalBlocks, freeBlocks);
  trace("%l4 list_resources: resource size: %llu", (unsigned long long)size);
  return size;
}

// The directory text of a resource name.
std::string directory_text(const char *name) {
  std::string dir = name;
  size_t colon = dir.find(':');
  if (giAddSlashToResource && colon != std::string::npos) dir.replace(colon, 1, ":/");
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// TRUE when dir lies directly below prefix: longer, starting with it, and
// without '/' after the character that follows the prefix.
bool directly_below(const std::string &dir, const std::string &prefix) {
  if (dir.size() <= prefix.size() || dir.compare(0, prefix.size(), prefix) != 0) return false;
  return dir.find('/', prefix.size() + 1) == std::string::npos;
}

void dump_name_spaces(SESSION_INFORMATION *sessionInfo, NWSM_NAME_LIST *nameList) {
  for (NWSM_NAME_LIST *p = nameList; p != nullptr; p = p->next) {
    const char *name = text(p->name);
    vrk_log(3500, "supported nameSpaces of [%s]", name);
    trace("%l4 check resource name: %s", name);
    UINT32 sequence = 0xFFFFFFFFu;
    for (bool bFirst = true;; bFirst = false) {
      UINT32 type = 0;
      char nsName[NWSM_MAX_NAME_SPACE_LEN] = "";
      if (NWSMTSScanSupportedNameSpaces(sessionInfo->connection, &sequence, name, &type, nsName) != 0)
        break;
      vrk_log(3500, "%s: [0X%03X: %s]", bFirst ? "default   " : "supported ", (unsigned)type, nsName);
      trace("%l4 GetNameSpaceTypeInfo");
      NWBOOLEAN reverse = 0;
      STRING_BUFFER *first = nullptr, *next = nullptr;
      if (NWSMTSGetNameSpaceTypeInfo(sessionInfo->connection, type, &reverse, &first, &next) == 0) {
        trace("%l4 separators [%s] [%s]", first != nullptr ? first->string : "",
              next != nullptr ? next->string : "");
      }
      NWSMFreeString(first);
      NWSMFreeString(next);
    }
    vrk_log(3500, "end of supported nameSpaces of [%s]", name);
  }
}

}  // namespace

void list_resources(SESSION_INFORMATION *sessionInfo, char *szRoot, NWBOOLEAN bGotClusterTSA) {
  char **cpItem = spGlobal->sVRKObject.cpItem;
  std::string root = text(szRoot);
  int iLevel = spGlobal->iLogLevel;
  if (iLevel >= 3)
    vrk_log(3500, "list_resources: Search for netware resources... under [%s]", root.c_str());
  std::string component, subdir;
  size_t colon = root.find(':');
  if (colon != std::string::npos) {
    component = root.substr(0, colon + 1);
    subdir = root.substr(colon + 1);
    vrk_log(3500, "list_resources: component [%s], subdir [%s]", component.c_str(), subdir.c_str());
  }

  trace("%l4 list_resources: List Resources with connection= %u", (unsigned)sessionInfo->connection);
  NWSM_NAME_LIST *nameList = nullptr;
  CCODE cc = NWSMTSListTSResources(sessionInfo->connection, &nameList);
  trace("%l4 list_resources: check nameList");
  if (cc != 0) PrintCode(1, cc, "list_resources: NWSMTSListTSResources", 0, sessionInfo);

  for (NWSM_NAME_LIST *p = nameList; p != nullptr; p = p->next) {
    if (p->name == nullptr) continue;
    const char *name = p->name;
    vrk_log(3304, name);
    // Copies: the browse path and its kind may change between resources.
    std::string item0 = text(cpItem[0]), item1 = text(cpItem[1]);
    trace("%l4 list_resources: cpItem[1] [%s]", item1.c_str());
    if (!item0.empty() && item1 != kLinuxFS && item1 != kGW2012 &&
        !is_nss_volume(sessionInfo, name))
      continue;
    UINT64 size = resource_size(sessionInfo, name);
    spGlobal->sVRKObject.ulSaved++;
    std::string dir = directory_text(name);
    trace("%l4 compare %s =?= %s", dir.c_str(), item0.c_str());
    trace("%l4 cpItem[0] %s", item0.c_str());
    trace("%l4 cpItem[1] %s", item1.c_str());

    if (item1 != kLinuxClusterFS) {
      trace("%l4 list_resources: add %s", name);
      trace("%l4 *** check %s", name);
      trace("%l4 *> push resource (2) [%s]", name);
      push_line(gLL_ResourceList, name);
      if (directly_below(dir, item0)) {
        std::string line = ResourceListingLine(dir, size);
        trace("%l4 push dir (2) [%s]", line.c_str());
        push_line(gLL_DirList, line);
      }
      continue;
    }
    trace("%l4 got %s", item1.c_str());
    if (item0.empty()) {
      std::string line = ClusterRootListingLine(size);
      trace("%l4 use '/'");
      trace("%l4 push dir [%s] (root)", line.c_str());
      push_line(gLL_DirList, line);
      trace("%l4 break");
      break;
    }
    std::string nm = name;
    trace("%l4 check: [%s] contains [%s] && (prefix check) [%c] == '/' ?", name, item0.c_str(),
          nm.size() > item0.size() ? nm[item0.size()] : ' ');
    if (nm == item0) continue;
    if (item0 != "/" && !(nm.size() > item0.size() && nm.compare(0, item0.size(), item0) == 0 &&
                          nm[item0.size()] == '/'))
      continue;
    trace("%l4 *> push resource [%s]", name);
    push_line(gLL_ResourceList, name);
    if (dir.size() > item0.size() && dir.find('/', item0.size() + 1) == std::string::npos) {
      std::string line = ResourceListingLine(dir, size);
      trace("%l4 push dir (1) [%s] (resource)", line.c_str());
      push_line(gLL_DirList, line);
    }
  }

  if (gbGW2012) ListGroupWiseComponents(sessionInfo, szRoot, component, subdir, bGotClusterTSA);

  if (iLevel >= 3) vrk_log(3500, "list_resources: list of resources processed");
  if (iLevel >= 5) dump_name_spaces(sessionInfo, nameList);
  NWSMFreeNameList(&nameList);
  trace("%l4 list_resources: done");
}
