// The job log through the binary when the file cannot take what the job
// writes: the job says so on standard error and ends with a warning.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <string>

#include "backup_job.h"
#include "e2e_files.h"

namespace {

using e2e::BackupJob;
using e2e::Has;
using e2e::Result;

// The job log stops growing at `limit` bytes: the file size limit of the
// client's process makes each write past it fail with EFBIG, as a full disk
// fails it with ENOSPC. The saveset goes to standard output, a pipe, which
// no such limit reaches.
struct LogLimit {
  const char *name;
  rlim_t limit;
};

void PrintTo(const LogLimit &l, std::ostream *os) { *os << l.name; }

class JobLogCannotBeWritten : public ::testing::TestWithParam<LogLimit> {};

TEST_P(JobLogCannotBeWritten, IsNamedAndTheJobEndsWithAWarning) {
  const LogLimit &l = GetParam();
  BackupJob job;
  mkdir(job.file("data/src").c_str(), 0755);
  vrktest::WriteFileAt(job.file("data/src/a.txt"), "alpha\n", 1300000000);
  job.SetChildSetup(e2e::FileSizeLimit(l.limit));
  const std::string log = job.file("log/job.log");
  Result r = job.Backup({"-l", "COPY", "-L", "CONTROL:job.log", "-s", "-", "/src"});
  EXPECT_EQ(1, r.exitCode()) << r.err;
  EXPECT_TRUE(Has(r.err, "Warning:  Unable to write log file [" + log +
                             "]:[File too large]. Continuing logging to stderr..."))
      << r.err;
  // The job itself went on: the saveset is whole, the end is said.
  EXPECT_TRUE(Has(r.err, "Items processed correctly: [2]")) << r.err;
  EXPECT_TRUE(Has(r.err, "Operation successful with warnings.")) << r.err;
  EXPECT_GT(r.out.size(), 100u);
  struct stat st;
  ASSERT_EQ(0, stat(log.c_str(), &st));
  EXPECT_LE((rlim_t)st.st_size, l.limit);
}

INSTANTIATE_TEST_SUITE_P(JobLog, JobLogCannotBeWritten,
                         ::testing::Values(LogLimit{"from_the_first_line", 0}, LogLimit{"on_the_way", 1500}),
                         [](const ::testing::TestParamInfo<LogLimit> &i) { return std::string(i.param.name); });

}  // namespace
