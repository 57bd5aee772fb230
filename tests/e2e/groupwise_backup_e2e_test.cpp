// End-to-end backup of a GroupWise 2012 component: the component name of the
// source becomes its home directory, and the GroupWise work directories
// below it are left out.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "backup_job.h"
#include "de_check.h"
#include "kv_ctrlc_standin.h"

namespace {

// The node of GroupWiseNode: the post office "1[PO]po1:" lives in /po1.
TEST(GroupWiseBackupE2E, AComponentIsBackedUpFromItsHomeWithoutTheWorkDirectories) {
  e2e::BackupJob job;
  vrktest::CtrlStandIn ctrl(job.file("ctrl"));
  vrktest::GroupWiseNode(ctrl);
  // The bootstrap file names the main ini that holds the program directory.
  vrktest::WriteFile(job.file("none.ini"), vrktest::ReadFile(ctrl.boot()));
  const std::string po1 = job.data() + "/po1";
  const char *const work[] = {"wpcsin", "wpcsout", "mslocal", "wptools", "ofwork", "oftemp"};
  mkdir(po1.c_str(), 0755);
  mkdir((po1 + "/ofuser").c_str(), 0755);
  vrktest::WriteFile(po1 + "/wphost.db", "post office database\n");
  vrktest::WriteFile(po1 + "/ofuser/userabc.db", "user database\n");
  for (const char *w : work) {
    mkdir((po1 + "/" + w).c_str(), 0755);
    mkdir((po1 + "/" + w + "/0").c_str(), 0755);
    vrktest::WriteFile(po1 + "/" + w + "/0/msg", "work\n");
  }
  mkdir((job.data() + "/dom1").c_str(), 0755);
  vrktest::WriteFile(job.data() + "/dom1/wpdomain.db", "another component\n");

  e2e::Result r = job.Run({"-b", "-j", "job", "-N", "srv1:srv1.GroupWise System 2012:srv1:u:p:0", "-l", "FULL",
                           "-s", "@" + job.saveset(), "1[PO]po1:"});
  EXPECT_EQ(0, r.exitCode()) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("GroupWise 2012 detected")) << r.err;
  std::vector<decheck::Record> records;
  std::vector<decheck::Occurrence> occ;
  std::string why;
  ASSERT_TRUE(decheck::ParseObject(vrktest::ReadFile(job.saveset()), records, why)) << why;
  decheck::Occurrences(records, occ, why);
  ASSERT_EQ("", why);
  // The home directory and what lies below it, but for the work directories.
  std::map<std::string, decheck::Entry> want;
  for (const auto &kv : decheck::Tree(job.data())) {
    if (kv.first.compare(0, 5, "/po1/") != 0) continue;
    bool inWork = false;
    for (const char *w : work) inWork = inWork || kv.first.compare(0, 6 + strlen(w), "/po1/" + std::string(w) + "/") == 0;
    if (!inWork) want.insert(kv);
  }
  ASSERT_EQ(4u, want.size());
  EXPECT_EQ("", decheck::CheckStored(occ, want));
}

}  // namespace
