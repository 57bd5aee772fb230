// End-to-end rows of option forms that the parser takes and runs the job
// with: the real client over a local saveset or an HTTP storage node.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../xbsa/xbsa_http_peer.h"
#include "backup_job.h"
#include "runtime/vrk_crypt.h"

namespace {

using e2e::BackupJob;
using e2e::Result;

const char *const kLogin = "srv1:srv1.Linux File System:srv1:u:p:0";

bool IsFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void MakeSource(const BackupJob &job) {
  mkdir((job.data() + "/src").c_str(), 0755);
  vrktest::WriteFile(job.data() + "/src/a.txt", "alpha\n");
  vrktest::WriteFile(job.data() + "/src/b.txt", "beta\n");
}

struct FormCase {
  const char *name;
  // Arguments after "-N <login>"; @SAVESET@ stands for the job's saveset file
  // and @NODE@ for the HTTP node's URL (a node is started for it).
  std::vector<std::string> args;
  bool restore;  // else a backup; a restore reads a FULL backup of /src,
                 // whose a.txt was changed since
  int exitCode;
  std::vector<std::string> shown, notShown;  // in standard error
  std::function<void(const BackupJob &, const vrktest::HttpPeer *)> check;
  std::vector<std::string> env = {};  // for the run
};

void PrintTo(const FormCase &c, std::ostream *os) { *os << c.name; }

class OptionForms : public ::testing::TestWithParam<FormCase> {};

TEST_P(OptionForms, RunTheJob) {
  const FormCase &c = GetParam();
  BackupJob job;
  MakeSource(job);
  std::unique_ptr<vrktest::HttpPeer> node;
  std::vector<std::string> args{c.restore ? "-r" : "-b", "-N", kLogin};
  for (std::string a : c.args) {
    if (a == "@SAVESET@") a = "@" + job.saveset();
    if (a == "@NODE@") {
      node.reset(new vrktest::HttpPeer());
      ASSERT_NE(0, node->port()) << node->output();
      a = node->url();
    }
    args.push_back(a);
  }
  if (c.restore) {
    Result stored = job.Backup({"-l", "FULL", "-s", "@" + job.saveset(), "/src"});
    ASSERT_EQ(0, stored.exitCode()) << stored.err;
    // Changed since: only an overwrite brings the stored bytes back.
    vrktest::WriteFile(job.data() + "/src/a.txt", "changed\n");
  }
  Result r = job.Run(args, e2e::Watch(), -1, c.env);
  EXPECT_EQ(c.exitCode, r.exitCode()) << r.err;
  for (const std::string &s : c.shown) EXPECT_NE(std::string::npos, r.err.find(s)) << s << "\n" << r.err;
  for (const std::string &s : c.notShown) EXPECT_EQ(std::string::npos, r.err.find(s)) << s << "\n" << r.err;
  if (c.check) c.check(job, node.get());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, OptionForms,
    ::testing::Values(
        // The empty level is the beginning of FULL: a FULL backup with its
        // full-backup marker.
        FormCase{"EmptyLevelIsFull",
                 {"-j", "job", "-l", "", "-s", "@SAVESET@", "/src"}, false, 0,
                 {"Operation:        BACKUP, Level: FULL"}, {"for switch -l."},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_TRUE(IsFile(job.file("times/job.D")));
                   EXPECT_TRUE(IsFile(job.file("times/job.I")));
                 }},
        // -s takes its value as it is: "-j" names the saveset, and so the
        // job log and the stored object.
        FormCase{"SavesetNamedLikeAnOption",
                 {"-L", "LOCAL", "-S", "@NODE@", "-d", ".", "-s", "-j", "/src"}, false, 0,
                 {"Operation:        BACKUP, Level: COPY"}, {"Option -s requires an argument."},
                 [](const BackupJob &job, const vrktest::HttpPeer *node) {
                   EXPECT_NE("", vrktest::ReadFile(job.file("log/vrk-j.log")));
                   ASSERT_NE(nullptr, node);
                   EXPECT_NE(std::string::npos, node->log().find("XBSA-STOR: -j\n")) << node->log();
                   EXPECT_TRUE(IsFile(node->root() + "/-j")) << node->log();
                 }},
        // RENAME after OVERWRITE is refused and the restore goes on with
        // OVERWRITE: the files are written over; the message makes it 3.
        FormCase{"RenameAfterOverwriteGoesOnWithOverwrite",
                 {"-o", "overwrite,Rename", "-s", "@SAVESET@"}, true, 3,
                 {"vrk-1038: Error:    Invalid argument [RENAME] for switch -o."},
                 {"already exists", "usage:"},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_EQ("alpha\n", vrktest::ReadFile(job.data() + "/src/a.txt"));
                 }},
        // -R=path hands "=path" over as the target's name: the job runs with
        // it, the TSA refuses that name, and nothing lands on the live files.
        FormCase{"EqualsPathIsATargetName",
                 {"-s", "@SAVESET@", "-R=/restored"}, true, 3,
                 {"Operation:        RESTORE", "Function: RESTORE"}, {"for switch -R.", "usage:"},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_EQ("changed\n", vrktest::ReadFile(job.data() + "/src/a.txt"));
                 }},
        // A trailing comma is an empty keyword, RENAME, refused the same way.
        FormCase{"TrailingCommaAfterOverwrite",
                 {"-o", "overwrite,", "-s", "@SAVESET@", "-R", "/restored"}, true, 3,
                 {"vrk-1038: Error:    Invalid argument [] for switch -o."}, {"usage:"},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_EQ("beta\n", vrktest::ReadFile(job.data() + "/restored/src/b.txt"));
                 }},
        // ENCRYPT and VERIFY are taken, and the job says that they are not
        // carried out: a warning each, status 1, the data as ever.
        FormCase{"EncryptOnABackupIsNotCarriedOut",
                 {"-j", "job", "-l", "FULL", "-o", "ENCRYPT=Key17", "-s", "@SAVESET@", "/src"}, false, 1,
                 {"Warning:  Option ENCRYPT is not carried out: the saveset is written in plain text, not "
                  "enciphered."},
                 {"Key17"},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_NE(std::string::npos, vrktest::ReadFile(job.saveset()).find("alpha\n"));
                 }},
        // An ENCRYPT value over 156 characters is cut, not refused.
        FormCase{"LongEncryptValueIsCut",
                 {"-j", "job", "-l", "FULL", "-o", "ENCRYPT=" + std::string(200, 'k'), "-s", "@SAVESET@", "/src"},
                 false, 1,
                 {"Warning:  Option ENCRYPT is not carried out"},
                 {"for switch -o.", "usage:", std::string(20, 'k')},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_NE(std::string::npos, vrktest::ReadFile(job.saveset()).find("alpha\n"));
                 }},
        // Numbers are read as the C library reads them: the job runs with
        // the number in front and ends well.
        FormCase{"NumbersTakeTheirDecimalValue",
                 {"-j", "job", "-l", "FULL", "-B", "4096x", "-n", "7x", "-t", "LAB:abc", "-C", "ctl:abc", "-s",
                  "@SAVESET@", "/src"},
                 false, 0,
                 {"Got BufferSize 4096", "Control Host:     ctl:0::", "Items processed correctly: ["},
                 {"Invalid argument", "usage:", "Warning:"},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_NE(std::string::npos, vrktest::ReadFile(job.saveset()).find("beta\n"));
                 }},
        FormCase{"WaitsWithAUnitTakeTheirNumber",
                 {"-j", "job", "-l", "FULL", "-s", "@SAVESET@", "/src"}, false, 0,
                 {"Items processed correctly: ["}, {"Warning:", "Invalid value"},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_NE(std::string::npos, vrktest::ReadFile(job.saveset()).find("alpha\n"));
                 },
                 {"VRK_DATA_WAIT=30s", "VRK_GEN_WAIT=45sec", "VRK_DATABUF=65536x"}},
        // A wait of 0 would break the waits: the default stays, with a
        // warning, and the job ends with 1.
        FormCase{"ZeroWaitKeepsTheDefault",
                 {"-j", "job", "-l", "FULL", "-s", "@SAVESET@", "/src"}, false, 1,
                 {"Warning:  Invalid value [0] of VRK_DATA_WAIT ignored, using 900"}, {},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_NE(std::string::npos, vrktest::ReadFile(job.saveset()).find("alpha\n"));
                 },
                 {"VRK_DATA_WAIT=0"}},
        FormCase{"EncryptOnARestoreIsNotCarriedOut",
                 {"-o", "encrypt_plain=Key18,overwrite", "-s", "@SAVESET@"}, true, 1,
                 {"Warning:  Option ENCRYPT_PLAIN is not carried out: the saveset is read as it was stored, not "
                  "deciphered."},
                 {"Key18"},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_EQ("alpha\n", vrktest::ReadFile(job.data() + "/src/a.txt"));
                 }},
        FormCase{"VerifyContentIsNotCarriedOut",
                 {"-o", "verify=content,overwrite", "-s", "@SAVESET@"}, true, 1,
                 {"Warning:  Option VERIFY=CONTENT is not carried out: the restore is not verified."}, {},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_EQ("alpha\n", vrktest::ReadFile(job.data() + "/src/a.txt"));
                 }},
        FormCase{"VerifyTimeIsNotCarriedOut",
                 {"-o", "VERIFY=Time", "-s", "@SAVESET@", "-R", "/restored"}, true, 1,
                 {"Warning:  Option VERIFY=TIME is not carried out: the restore is not verified."}, {},
                 [](const BackupJob &job, const vrktest::HttpPeer *) {
                   EXPECT_EQ("alpha\n", vrktest::ReadFile(job.data() + "/restored/src/a.txt"));
                 }}),
    [](const ::testing::TestParamInfo<FormCase> &p) { return std::string(p.param.name); });

// An enciphered SMS password is read as the tools write it, and also with
// an odd digit at its end (ignored) or blanks for the 0 that opens a pair
// (skipped): the TSA takes the login, the backup ends well.
TEST(EncipheredPassword, OddDigitAndBlanksStillLogIn) {
  BackupJob job("", "user u = Pw7x\n");
  MakeSource(job);
  std::string saveset = "@" + job.saveset();
  std::string phrase = std::string(1, VRK_PASSPHRASE_CHAR_BACKUP) + saveset;
  char hex[256] = {0};
  ASSERT_EQ(0, vrk_encrypt_password(hex, (char *)"Pw7x", 0, &phrase[0]));
  std::string blanks = hex;
  for (size_t i = 0; i < blanks.size(); i += 2)
    if (blanks[i] == '0') blanks[i] = ' ';
  for (const std::string &text : {std::string(hex), std::string(hex) + "7", blanks, blanks + "f"}) {
    SCOPED_TRACE(text);
    Result r = job.Run({"-b", "-j", "job", "-l", "FULL", "-N", "srv1:srv1.Linux File System:srv1:u:{" + text + "}:0",
                        "-s", saveset, "/src"});
    EXPECT_EQ(0, r.exitCode()) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("vrk-1149")) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("Pw7x")) << r.err;
  }
  // A wrong password is still refused by the TSA.
  Result r = job.Run({"-b", "-j", "job", "-l", "FULL", "-N", "srv1:srv1.Linux File System:srv1:u:wrong:0", "-s",
                      saveset, "/src"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
}

// A PUT whose list file cannot be written goes on past the parser: it saves
// nothing and ends with 3, without the argument failure.
TEST(PutList, UnwritableListEndsTheJobWithThree) {
  BackupJob job;
  std::string link = job.file("tmp/PUT.IN");
  ASSERT_EQ(0, symlink(job.file("elsewhere").c_str(), link.c_str()));
  vrktest::WriteFile(job.saveset(), "put\n");
  Result r = job.Run({"-p", "-N", kLogin, "-s", "@" + job.saveset(), "/etc/hostname"});
  EXPECT_EQ(3, r.exitCode()) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("vrk-1011: Error:    Unable to open file [" + link + "]")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("vrk-2025")) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("Ending vrk_analyze_opt -1")) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("Error(s) in arguments")) << r.err;
  EXPECT_FALSE(IsFile(job.file("elsewhere")));
}

}  // namespace
