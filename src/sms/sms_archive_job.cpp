// The client's word on the job of a backup and on its commit: the archive
// state of each job is its own, and only committed runs' records hide changes.
#include <string>

#include "sms/sms_archive.h"
#include "sms/sms_changed.h"
#include "sms/sms_state.h"
#include "sms/smsapi.h"

using namespace vrksms;

extern "C" void vrk_sms_archive_job(const char *job, int level) {
  EnsureWorld();
  ScanLevel l = level >= 0 && level <= static_cast<int>(ScanLevel::kCopy) ? static_cast<ScanLevel>(level)
                                                                           : ScanLevel::kFull;
  SetArchiveJob(job ? std::string(job) : std::string(), l);
}

extern "C" void vrk_sms_archive_commit(void) { CommitArchiveRun(); }
