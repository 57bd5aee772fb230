// The scan calls: NWSMTSScanDataSetBegin, NWSMTSScanNextDataSet,
// NWSMTSScanDataSetContinue and NWSMTSScanDataSetEnd, and what they report.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "sms/sms_archive.h"
#include "sms/sms_changed.h"
#include "sms/sms_path.h"
#include "sms/sms_scan.h"
#include "sms/sms_sidf.h"
#include "sms/sms_time.h"
#include "sms/smsapi.h"

using namespace vrksms;

namespace {

bool Modified(const Tsa &tsa, const ScanItem &it, ArchiveRecord &rec) {
  return !LookupArchive(tsa, *it.res, ItemKey(it), rec) || !SameAsSaved(rec, it.meta.ctime, it.meta.dev, it.meta.ino);
}

// Name the stream carries: a parent's full path, a child's terminal name
// (its full path when the scan returns full child names).
std::string StreamName(const Scan &s, const ScanItem &it) {
  if (it.isParent || !s.ctl.returnChildTerminalNodeNameOnly) return ItemFullName(*s.tsa, it);
  return it.name;
}

CCODE Report(Scan &s, NWSM_SCAN_INFORMATION **info, NWSM_DATA_SET_NAME_LIST **names) {
  const ScanItem &it = s.current;
  std::string name = StreamName(s, it);
  // One entry a name space, all of the same name; room kept from item to item.
  thread_local std::vector<NameView> entries;
  entries.clear();
  for (uint32_t ns : s.nameSpaces) {
    NameView e;
    e.nameSpaceType = ns;
    e.firstSep = FirstSeparator(*s.tsa);
    e.nextSep = NextSeparator(*s.tsa);
    e.name = name;
    entries.push_back(e);
  }
  NWSM_DATA_SET_NAME_LIST *list = nullptr;
  CCODE rc = EncodeNameViews(entries.data(), entries.size(), &list);
  if (rc) return rc;
  NWSM_SCAN_INFORMATION *si = static_cast<NWSM_SCAN_INFORMATION *>(calloc(1, sizeof(*si)));
  if (!si) {
    free(list);
    return NWSMTS_OUT_OF_MEMORY;
  }
  ArchiveRecord rec;
  bool modified = Modified(*s.tsa, it, rec);
  si->bufferSize = sizeof(*si);
  si->scanInformationSize = sizeof(*si);
  si->attributes = (it.meta.kind == kSidfDirectory ? NWSM_ATTR_SUBDIRECTORY : 0u) |
                   (it.meta.kind == kSidfSymlink ? NWSM_ATTR_SYMBOLIC_LINK : 0u) |
                   ((it.meta.mode & 0222) == 0 ? NWSM_ATTR_READ_ONLY : 0u) |
                   (modified ? NWSM_ATTR_MODIFIED : 0u);
  si->creatorID = it.meta.uid;
  si->creatorNameSpaceNumber = s.tsa->volumeStyle ? LONGNameSpace : NFSNameSpace;
  si->primaryDataStreamSize = it.meta.size;
  si->totalStreamsDataSize = kSidfFixedHeader + name.size() + it.meta.size + kSidfTrailer;
  si->modifiedFlag = modified ? 1 : 0;
  si->parentFlag = it.isParent ? 1 : 0;
  si->accessDateAndTime = s.packedTimes.Pack(it.meta.atime.tv_sec);
  si->createDateAndTime = s.packedTimes.Pack(it.meta.btime.tv_sec);
  si->modifiedDateAndTime = s.packedTimes.Pack(it.meta.mtime.tv_sec);
  si->archivedDateAndTime = rec.archived;
  *info = si;
  *names = list;
  return 0;
}

CCODE ChooseNameSpaces(const Tsa &t, UINT32 want, std::vector<uint32_t> &out) {
  out.clear();
  if (want == NWSM_ALL_NAME_SPACES || want == NWSM_ALL_NAME_SPACES_UTF8) {
    for (uint32_t ns : t.nameSpaces) out.push_back(want == NWSM_ALL_NAME_SPACES_UTF8 && t.utf8 ? ns + 256 : ns);
    return 0;
  }
  uint32_t local = want >= 256 && want <= 260 ? want - 256 : want;
  if (want >= 256 && !t.utf8) return NWSMTS_INVALID_PARAMETER;
  for (uint32_t ns : t.nameSpaces)
    if (ns == local) {
      out.push_back(want);
      return 0;
    }
  return NWSMTS_INVALID_PARAMETER;
}

CCODE AddSource(Scan &s, const NameEntry &e) {
  Scan::Source src;
  if (e.nameSpaceType == NWSM_TSA_DEFINED_RESOURCE_TYPE) {
    for (const Resource &r : s.tsa->resources)
      if (s.tsa->volumeStyle ? strcasecmp(r.name.c_str(), e.name.c_str()) == 0 : r.name == e.name) src.res = &r;
    if (!src.res) return NWSMTS_INVALID_PATH;
    s.sources.push_back(src);
    return 0;
  }
  Target t;
  if (ResolveName(*s.tsa, e.name, t)) return NWSMTS_INVALID_PATH;
  src.res = t.res;
  src.comps = t.comps;
  if (!t.comps.empty()) {
    int fd = OpenDirBeneath(*t.res, t.comps, t.comps.size() - 1, false);
    if (fd < 0) return NWSMTS_INVALID_PATH;
    FileMeta m;
    bool ok = StatEntry(fd, t.comps.back().c_str(), m);
    close(fd);
    if (!ok || (t.parentForm && m.kind != kSidfDirectory)) return NWSMTS_INVALID_PATH;
    if (m.kind != kSidfDirectory) {
      src.fileSource = true;
      src.fileName = t.comps.back();
      src.comps.pop_back();
    }
  } else {
    int fd = OpenDirBeneath(*t.res, t.comps, 0, false);
    if (fd < 0) return NWSMTS_INVALID_PATH;
    close(fd);
  }
  s.sources.push_back(src);
  return 0;
}

// Where a resumed scan goes on: strictly after this data set.
CCODE SetResume(Scan &s, const NWSM_DATA_SET_NAME_LIST *resumeName) {
  std::vector<NameEntry> entries;
  CCODE rc = ParseNameList(resumeName, 0, entries);
  if (rc) return rc;
  if (entries.empty()) return NWSMUT_LIST_EMPTY;
  Target t;
  if (ResolveName(*s.tsa, entries[0].name, t)) return NWSMTS_INVALID_PATH;
  for (size_t i = 0; i < s.sources.size(); ++i) {
    const Scan::Source &src = s.sources[i];
    if (src.res != t.res) continue;
    OrderKey key;
    if (src.fileSource) {
      if (t.parentForm ? t.comps != src.comps
                       : (t.comps.size() != src.comps.size() + 1 ||
                          !std::equal(src.comps.begin(), src.comps.end(), t.comps.begin()) ||
                          t.comps.back() != src.fileName))
        continue;
      if (!t.parentForm) key.emplace_back(0, src.fileName);
    } else {
      if (t.comps.size() < src.comps.size() || !std::equal(src.comps.begin(), src.comps.end(), t.comps.begin()))
        continue;
      if (!t.parentForm && t.comps.size() == src.comps.size()) continue;
      for (size_t j = src.comps.size(); j < t.comps.size(); ++j)
        key.emplace_back(!t.parentForm && j + 1 == t.comps.size() ? 0 : 1, t.comps[j]);
    }
    s.resume = true;
    s.resumeSource = i;
    s.resumeKey = key;
    return 0;
  }
  return NWSMTS_INVALID_PATH;
}

CCODE Begin(Call &c, UINT32 connection, const NWSM_DATA_SET_NAME_LIST *resourceName,
            const NWSM_SCAN_CONTROL *scanControl, const NWSM_SELECTION_LIST *selectionList,
            const NWSM_DATA_SET_NAME_LIST *resumeName, UINT32 *sequence, NWSM_SCAN_INFORMATION **info,
            NWSM_DATA_SET_NAME_LIST **names) {
  Connection *conn;
  if (CCODE rc = c.Begin(connection, &conn)) return rc;
  if (!conn->loggedIn) return NWSMTS_NOT_LOGGED_IN;
  if (!resourceName || !scanControl || !sequence || !info || !names) return NWSMTS_INVALID_PARAMETER;
  auto s = std::make_unique<Scan>();
  s->connection = connection;
  s->tsa = conn->tsa;
  s->ctl = *scanControl;
  s->PrepareFilter();
  if (s->ctl.scanType & ~conn->tsa->scanTypes) return NWSMTS_SCAN_TYPE_NOT_SUPPORTED;
  if (CCODE rc = ChooseNameSpaces(*conn->tsa, s->ctl.returnNameSpaceType, s->nameSpaces)) return rc;
  if (selectionList) {
    CCODE rc = ParseNameList(selectionList, 0, s->selection);
    if (rc) return rc;
    for (const NameEntry &e : s->selection)
      if (e.selectionType != NWSM_PARENT_TO_BE_EXCLUDED && e.selectionType != NWSM_CHILD_TO_BE_EXCLUDED &&
          e.selectionType != NWSM_EXCLUDE_CHILD_BY_FULL_NAME)
        return NWSMTS_INVALID_SELECTION_TYPE;
  }
  std::vector<NameEntry> sources;
  CCODE rc = ParseNameList(resourceName, 0, sources);
  if (rc) return rc;
  if (sources.empty()) return NWSMTS_INVALID_PATH;
  for (const NameEntry &e : sources)
    if ((rc = AddSource(*s, e)) != 0) return rc;
  if (resumeName && (rc = SetResume(*s, resumeName)) != 0) return rc;
  if ((rc = s->Next()) != 0) return rc;
  if ((rc = Report(*s, info, names)) != 0) return rc;
  if (c.Logging()) c.Args("connection=0x%X, first=\"%s\"", connection, ItemFullName(*s->tsa, s->current).c_str());
  *sequence = AddHandle(std::move(s));
  return 0;
}

void Release(NWSM_SCAN_INFORMATION **info, NWSM_DATA_SET_NAME_LIST **names) {
  if (info) {
    free(*info);
    *info = nullptr;
  }
  if (names) {
    free(*names);
    *names = nullptr;
  }
}

}  // namespace

extern "C" CCODE NWSMTSScanDataSetBegin(UINT32 connection, const NWSM_DATA_SET_NAME_LIST *resourceName,
                                        const NWSM_SCAN_CONTROL *scanControl,
                                        const NWSM_SELECTION_LIST *selectionList, UINT32 *sequence,
                                        NWSM_SCAN_INFORMATION **scanInformation,
                                        NWSM_DATA_SET_NAME_LIST **dataSetNames) {
  Call c("NWSMTSScanDataSetBegin");
  c.Args("connection=0x%X", connection);
  return c.End(Begin(c, connection, resourceName, scanControl, selectionList, nullptr, sequence, scanInformation,
                     dataSetNames));
}

extern "C" CCODE vrk_sms_scan_continue_impl(UINT32 connection, const NWSM_DATA_SET_NAME_LIST *resourceName,
                                            const NWSM_SCAN_CONTROL *scanControl,
                                            const NWSM_SELECTION_LIST *selectionList,
                                            const NWSM_DATA_SET_NAME_LIST *resumeName, UINT32 *sequence,
                                            NWSM_SCAN_INFORMATION **scanInformation,
                                            NWSM_DATA_SET_NAME_LIST **dataSetNames) {
  Call c("NWSMTSScanDataSetContinue");
  c.Args("connection=0x%X", connection);
  if (!resumeName) return c.End(NWSMTS_INVALID_PARAMETER);
  return c.End(Begin(c, connection, resourceName, scanControl, selectionList, resumeName, sequence,
                     scanInformation, dataSetNames));
}

extern "C" CCODE NWSMTSScanNextDataSet(UINT32 connection, UINT32 *sequence,
                                       NWSM_SCAN_INFORMATION **scanInformation,
                                       NWSM_DATA_SET_NAME_LIST **dataSetNames) {
  Call c("NWSMTSScanNextDataSet");
  c.Args("connection=0x%X, sequence=0x%X", connection, sequence ? *sequence : 0);
  if (CCODE rc = c.Begin(connection)) return c.End(rc);
  if (!sequence || !scanInformation || !dataSetNames) return c.End(NWSMTS_INVALID_PARAMETER);
  Scan *s = FindHandle<Scan>(*sequence, connection);
  if (!s) return c.End(NWSMTS_INVALID_SEQUENCE_NUMBER);
  Release(scanInformation, dataSetNames);
  s->leftOut.clear();
  CCODE rc = s->Next();
  if (rc) {
    s->haveCurrent = false;
    FlushArchive();  // the scan's data sets are all done
    return c.End(rc);
  }
  if (c.Logging())
    c.Args("connection=0x%X, sequence=0x%X, next=\"%s\"", connection, *sequence,
           ItemFullName(*s->tsa, s->current).c_str());
  rc = Report(*s, scanInformation, dataSetNames);
  // A name too long for its list fails that item only: the scan goes on.
  if (rc == NWSMUT_LIST_TOO_LARGE) s->LeaveOut(rc);
  return c.End(rc);
}

extern "C" CCODE NWSMTSScanDataSetEnd(UINT32 connection, UINT32 *sequence,
                                      NWSM_SCAN_INFORMATION **scanInformation,
                                      NWSM_DATA_SET_NAME_LIST **dataSetNames) {
  Call c("NWSMTSScanDataSetEnd");
  c.Args("connection=0x%X, sequence=0x%X", connection, sequence ? *sequence : 0);
  Release(scanInformation, dataSetNames);
  FlushArchive();
  CompactArchive();
  if (CCODE rc = c.Begin(connection)) return c.End(rc);
  if (!sequence) return c.End(NWSMTS_INVALID_PARAMETER);
  if (!FindHandle<Scan>(*sequence, connection)) return c.End(NWSMTS_INVALID_SEQUENCE_NUMBER);
  CloseHandle(*sequence);
  *sequence = 0;
  return c.End(0);
}
