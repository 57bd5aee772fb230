// Tests of the command-line parser in-process: the operation rules, each
// option's effect and refusal, the steps after the options and the -N masking.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "client/vrk_levels.h"
#include "client/vrk_options.h"
#include "client/vrk_saveset_file.h"
#include "client/vrk_signal.h"
#include "runtime/cbc_iv.h"
#include "runtime/vrk_crypt.h"
#include "vrk_client_fixture.h"

namespace {

using vrktest::Argv;
using vrktest::ParseRun;
using V = std::vector<std::string>;

// The number of descriptors this process has open.
int OpenDescriptors() {
  int n = 0;
  for (int fd = 0; fd < 1024; ++fd)
    if (fcntl(fd, F_GETFD) != -1) ++n;
  return n;
}

bool Has(const std::string &err, const std::string &what) {
  return err.find(what) != std::string::npos;
}

// Runs without lsb_release on the PATH, so the OS line is quick and empty.
class Options : public vrktest::ClientTest {
 protected:
  void SetUp() override {
    vrktest::ClientTest::SetUp();
    const char *p = getenv("PATH");
    path_ = p ? p : "/usr/bin:/bin";
    setenv("PATH", empty_.path().c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", path_.c_str(), 1);
    vrktest::ClientTest::TearDown();
  }
  ParseRun Run(const V &args) {
    Argv a(args);
    return vrktest::RunParser(a);
  }
  // Runs with the tmp and log directories in a temporary directory.
  ParseRun RunInDirs(const V &args) {
    Argv a(args);
    vrktest::FreshGlobal();
    UseDirs();
    return vrktest::RunParser(a, false);
  }
  void UseDirs() {
    free(spGlobal->sDirs.cpTmp);
    free(spGlobal->sDirs.cpLog);
    spGlobal->sDirs.cpTmp = strdup(dir_.path().c_str());
    spGlobal->sDirs.cpLog = strdup(dir_.path().c_str());
  }
  std::string path_;
  vrktest::TempDir empty_, dir_;
};

struct OptCase {
  V args;
  int rc;
  std::function<bool()> check;
  // Texts that standard error must hold; one that begins with '!' must not
  // be there (the rest of it).
  std::vector<std::string> err;
};

void PrintTo(const OptCase &c, std::ostream *os) {
  for (const std::string &a : c.args) *os << (a.size() > 40 ? a.substr(0, 40) + "..." : a) << " ";
}

class OptionTable : public Options, public testing::WithParamInterface<OptCase> {};

TEST_P(OptionTable, Effect) {
  const OptCase &c = GetParam();
  ParseRun r = Run(c.args);
  std::string line;
  for (const std::string &a : c.args) line += a + " ";
  EXPECT_EQ(c.rc, r.rc) << line << "\n" << r.err;
  EXPECT_TRUE(c.check()) << line << "\n" << r.err;
  for (const std::string &e : c.err) {
    if (e[0] == '!')
      EXPECT_FALSE(Has(r.err, e.substr(1))) << line << ": " << e << "\n" << r.err;
    else
      EXPECT_TRUE(Has(r.err, e)) << line << ": " << e << "\n" << r.err;
  }
}

_sVRKGlobal &G() { return *spGlobal; }
std::string S(const char *p) { return p ? p : "(null)"; }
const char *kHelp = "usage:\n";
const char *kEnd = "vrk-1500: Error:    Ending vrk_analyze_opt -1";

INSTANTIATE_TEST_SUITE_P(
    Operation, OptionTable,
    testing::Values(
        OptCase{{"-b", "-j", "job", "-l", "full", "-s", "set", "/vol/a"}, 0,
                [] {
                  return G().eOPERATION == BACKUP && G().eBackupType == FULL &&
                         S(G().sVRKObject.cpItem[0]) == "/vol/a" &&
                         std::string(G().szDATAarg) == "set" && G().iLogLevel == 0;
                },
                {"vrk-3036: Info:     # @(#)KORVA BACKUP CLIENT", "vrk-3063",
                 "Program PID:      ", "Operation:        BACKUP, Level: FULL",
                 "Storage Host:     localhost:11001,0-0:KORVA_SECURE_AUTHENTICATION:",
                 "Control Host:     localhost:11001::", "Device:           .::SHARE:0",
                 "Building file list from: [\"vrk\" \"-b\" "}},
        OptCase{{"-r", "-s", "set", "/vol/a"}, 0,
                [] {
                  return G().eOPERATION == RESTORE && G().iLogLevel == 1 &&
                         G().eBackupType == FULL && S(G().sSMS.cpDATAFlags) == "ft";
                },
                {"Operation:        RESTORE, Level: FULL"}},
        // A first option that is no operation stops the parsing at once.
        OptCase{{"-j", "job", "-b", "/vol/a"}, -1,
                [] { return G().eOPERATION == OPERATION_NOT_INITIALIZED && G().szJobName[0] == '\0'; },
                {"vrk-1004: Error:    Invalid function.", kHelp, kEnd}},
        OptCase{{"-b", "-r", "-s", "x", "/a"}, 0, [] { return G().eOPERATION == BACKUP; }, {}},
        OptCase{{"-k"}, -1, [] { return G().eOPERATION == KILL; },
                {"Operation:        KILL, Level:  \n", kEnd}},
        OptCase{{"-D", "/vol1/dir"}, 0,
                [] {
                  return G().eOPERATION == LIST_RESOURCES &&
                         S(G().sVRKObject.cpItem[0]) == "/vol1/dir";
                },
                {"::/vol1/dir", "Client Host name: "}},
        OptCase{{"-D"}, 0, [] { return S(G().sVRKObject.cpItem[0]) == "/"; }, {}},
        OptCase{{"-g", "remote.set", "/local/file"}, 0,
                [] {
                  return G().eOPERATION == GET && S(G().sSMS.cpSaveset) == "remote.set" &&
                         std::string(G().szTargetPath[0]) == "/local/file";
                },
                {"Operation:        GET, Level: E_TYPE_UNKNOWN"}},
        OptCase{{"-g", "remote.set"}, 0,
                [] { return std::string(G().szTargetPath[0]) == "remote.set"; }, {}},
        OptCase{{"-g"}, -1, [] { return true; }, {"Backup source not specified. Exiting.", kEnd}},
        OptCase{{"-p"}, -1, [] { return true; }, {"Backup source not specified. Exiting."}}));

INSTANTIATE_TEST_SUITE_P(
    Values, OptionTable,
    testing::Values(
        OptCase{{"-b", "-B", "64k", "-s", "x", "/a"}, 0, [] { return G().lBufferSize == 65536; },
                {"Got BufferSize 65536"}},
        OptCase{{"-b", "-B", "100", "-s", "x", "/a"}, 0, [] { return G().lBufferSize == 100; }, {}},
        OptCase{{"-b", "-B", "0", "/a"}, -1, [] { return G().lBufferSize == 65536; },
                {"Invalid argument [0] for switch -B.", kHelp}},
        OptCase{{"-b", "-B", "-5", "/a"}, -1, [] { return G().lBufferSize == 65536; }, {"-B."}},
        OptCase{{"-b", "-B", "4194304k", "/a"}, -1, [] { return G().lBufferSize == 65536; },
                {"-B."}},
        // The number as it reads; a k or K at the end counts kilobytes.
        OptCase{{"-b", "-B", "12x", "-s", "x", "/a"}, 0, [] { return G().lBufferSize == 12; },
                {"Got BufferSize 12", "!for switch -B."}},
        OptCase{{"-b", "-B", "2 K", "-s", "x", "/a"}, 0, [] { return G().lBufferSize == 2048; }, {}},
        OptCase{{"-b", "-B", "3kx", "-s", "x", "/a"}, 0, [] { return G().lBufferSize == 3; }, {}},
        // A block size of 0 would read nothing: refused.
        OptCase{{"-b", "-B", "k", "/a"}, -1, [] { return G().lBufferSize == 65536; },
                {"Invalid argument [k] for switch -B."}},
        OptCase{{"-b", "-B", "abc", "/a"}, -1, [] { return G().lBufferSize == 65536; }, {"-B."}},
        OptCase{{"-b", "-V", "0", "-s", "x", "/a"}, 0,
                [] { return G().iVerbose == 0 && G().iAlarmIntervall == 0; }, {}},
        OptCase{{"-b", "-V", "60", "-s", "x", "/a"}, 0,
                [] { return G().iVerbose == 1 && G().iAlarmIntervall == 60; }, {}},
        OptCase{{"-b", "-V", "-1", "/a"}, -1, [] { return G().iAlarmIntervall == 300; },
                {"Option -V requires an argument."}},
        OptCase{{"-b", "-V", "abc", "-s", "x", "/a"}, 0, [] { return G().iVerbose == 0; }, {}},
        OptCase{{"-b", "-T", "20140219131022", "-s", "x", "/a"}, 0,
                [] {
                  return G().eBackupType == SINCE &&
                         G().tBackupFrom == vrk_get_time("20140219131022", 0);
                },
                {"Got SINCE with [20140219131022]", "Level: SINCE"}},
        OptCase{{"-b", "-T", "2014-02-19", "/a"}, -1, [] { return G().eBackupType != SINCE; },
                {"Invalid argument [2014-02-19] for switch -T.", kHelp}},
        // A digit short: not read as another second.
        OptCase{{"-b", "-T", "2014021913102", "/a"}, -1, [] { return G().eBackupType != SINCE; },
                {"Invalid argument [2014021913102] for switch -T."}},
        OptCase{{"-b", "-T", "201402191310225", "/a"}, -1, [] { return G().eBackupType != SINCE; },
                {"for switch -T."}},
        OptCase{{"-r", "-T", "20140219131022", "/a"}, -1, [] { return true; },
                {"Option -T not available in this mode."}},
        OptCase{{"-b", "-v", "3", "-s", "x", "/a"}, 0, [] { return G().iLogLevel == 3; },
                {"Tracing switched ON", "Ending vrk_analyze_opt 0"}},
        OptCase{{"-b", "-n", "7", "-s", "x", "/a"}, 0,
                [] { return G().sSMS.ulSegmentNumber == 7; }, {}},
        OptCase{{"-b", "-n", "seven", "-s", "x", "/a"}, 0,
                [] { return G().sSMS.ulSegmentNumber == 0; }, {"!-n."}},
        OptCase{{"-r", "-d", "SMS:tape0", "-t", "LAB:1", "-n", "7x", "-s", "set", "/a"}, 0,
                [] { return G().sSMS.ulSegmentNumber == 7 && std::string(G().szDATAarg) == "set:0:ft:1:7:none"; },
                {}},
        OptCase{{"-b", "-i", "info", "-a", "find", "-c", "x", "-I", "y", "-m", "z", "-s", "x", "/a"},
                0,
                [] {
                  return S(G().sSMS.cpInfo) == "info" &&
                         S(G().sVRKObject.cpAdditionalFindArg) == "find";
                },
                {}},
        // A word that is no level fails the option without a message of its own.
        OptCase{{"-b", "-l", "bogus", "/a"}, -1, [] { return G().eBackupType == E_TYPE_DEFAULT; },
                {"!for switch -l.", "!vrk-1001", kHelp, "vrk-3019", kEnd}},
        OptCase{{"-b", "-l", "sel", "/a"}, -1, [] { return G().eBackupType == E_TYPE_DEFAULT; },
                {"!for switch -l.", kHelp}},
        OptCase{{"-r", "-l", "sel", "-s", "x"}, 0, [] { return G().eBackupType == SELECTIVE; },
                {"Level: SELECTIVE"}},
        // The empty text is the beginning of FULL.
        OptCase{{"-b", "-j", "job", "-l", "", "-s", "x", "/a"}, 0,
                [] { return G().eBackupType == FULL; }, {"Operation:        BACKUP, Level: FULL"}},
        // No operation at all: the help, without a message before it.
        OptCase{{"/vol/a"}, -1, [] { return G().eOPERATION == OPERATION_NOT_INITIALIZED; },
                {"!vrk-1004", kHelp, kEnd}},
        // A -f list that begins with a dash is standard input, as "@-j" is.
        OptCase{{"-b", "-f", "-j", "job", "-s", "x", "/a"}, 0,
                [] {
                  return S(G().sVRKObject.cpIncludeList) == "-" &&
                         S(G().sVRKObject.cpItem[0]) == "pipe" && G().sVRKObject.cpItem[1] == nullptr &&
                         std::string(G().szTargetPath[0]) == "-" && G().szJobName[0] == '\0';
                },
                {"Skip further arguments, e.g. [job]"}},
        OptCase{{"-b", "-f", "@-j", "job", "-s", "x", "/a"}, 0,
                [] {
                  return S(G().sVRKObject.cpIncludeList) == "-j" &&
                         S(G().sVRKObject.cpItem[0]) == "pipe" &&
                         std::string(G().szTargetPath[0]) == "-" && G().szJobName[0] == '\0';
                },
                {}},
        // -s takes its value whatever it begins with: "-j" names the saveset.
        OptCase{{"-b", "-s", "-j", "job", "/a"}, 0,
                [] {
                  return S(G().sSMS.cpSaveset) == "-j" && G().sLocalSaveset.iFilDes == -1 &&
                         std::string(G().szDATAarg) == "-j" && G().szJobName[0] == '\0' &&
                         S(G().sVRKObject.cpItem[0]) == "job" && S(G().sVRKObject.cpItem[1]) == "/a";
                },
                {"!Option -s requires an argument."}},
        // Targets that would leave the data sets on the original files.
        OptCase{{"-r", "-o", "overwrite", "-R", "", "-s", "x"}, -1,
                [] { return G().szTargetArg[0][0] == '\0' && !G().bRelocationRequired; },
                {"Invalid argument [] for switch -R.", kHelp}},
        OptCase{{"-r", "-R", "/restored", "-R", "", "-s", "x"}, -1, [] { return true; },
                {"Invalid argument [] for switch -R."}},
        // -R=path hands "=path" over: a target name like any other.
        OptCase{{"-r", "-R=/restored", "-s", "x"}, 0,
                [] {
                  return std::string(G().szTargetArg[1]) == "=/restored" &&
                         std::string(G().szTargetPath[0]) == "=/restored/";
                },
                {"!for switch -R."}},
        OptCase{{"-r", "-R", "/restored==::==", "-s", "x"}, -1, [] { return true; },
                {"Invalid argument [/restored==::==] for switch -R.",
                 "ERROR: Can't perform path relocation of \"-R\""}},
        OptCase{{"-r", "-R", "/a==::==/b==::==", "-s", "x"}, -1, [] { return true; },
                {"Invalid argument [/a==::==/b==::==] for switch -R."}},
        OptCase{{"-r", "-R", "/a==::====::==/c", "-s", "x"}, -1, [] { return true; },
                {"for switch -R."}},
        // An empty pattern in front is the whole tree.
        OptCase{{"-r", "-R", "==::==/new", "-s", "x"}, 0,
                [] {
                  return std::string(G().szPath[0]) == "/" &&
                         std::string(G().szTargetPath[0]) == "/new/";
                },
                {}},
        OptCase{{"-b", "-l", "-full"}, -1, [] { return true; },
                {"Option -l requires an argument."}},
        OptCase{{"-b", "-q"}, -1, [] { return true; }, {"Unrecognized option: -q.", kHelp}},
        OptCase{{"-b", "-j"}, -1, [] { return true; }, {"Unrecognized option: -j."}},
        OptCase{{"-b", "-j", std::string(5000, 'j'), "/a"}, -1,
                [] { return G().szJobName[0] == '\0'; }, {"for switch -j."}},
        OptCase{{"-b", "-j", "a/b", "-l", "full", "-s", "x", "/a"}, -1, [] { return true; },
                {"Invalid argument [a/b] for switch -j."}},
        OptCase{{"-b", "-j", "a/b", "-s", "x", "/a"}, 0,
                [] { return G().eBackupType == COPY; }, {}},
        OptCase{{"-b", "-O", "data:arg", "-s", "x", "/a"}, 0,
                [] { return std::string(G().szDATAarg) == "data:arg:"; }, {}},
        OptCase{{"-b", "-d", "SMS:tape0", "-t", "LAB:12", "-s", "set", "-i", "inf", "/a"}, 0,
                [] {
                  return S(G().sSMS.cpRemoteDir) == "SMS" && S(G().sSMS.cpDevice) == "tape0" &&
                         S(G().sSMS.cpTapeLabel) == "LAB" && G().sSMS.ulTapeID == 12 &&
                         std::string(G().szDATAarg) == "set:inf:none:12:LAB:32";
                },
                {"Device:           SMS:tape0:SHARE:0"}},
        OptCase{{"-r", "-d", "SMS:tape0", "-t", "LAB:12", "-n", "3", "-s", "set", "/a"}, 0,
                [] { return std::string(G().szDATAarg) == "set:0:ft:12:3:none"; }, {}},
        OptCase{{"-b", "-d", "dir:dev", "/a"}, -1, [] { return true; }, {kHelp}},
        OptCase{{"-b", "-d", "remote", "-s", "x", "/a"}, 0,
                [] { return S(G().sSMS.cpRemoteDir) == "remote"; }, {}},
        OptCase{{"-b", "-t", "LAB", "/a"}, -1, [] { return true; },
                {"Option -t requires an argument."}},
        OptCase{{"-b", "-d", "SMS:tape0", "-t", "LAB:abc", "-s", "set", "/a"}, 0,
                [] {
                  return S(G().sSMS.cpTapeLabel) == "LAB" && G().sSMS.ulTapeID == 0 &&
                         std::string(G().szDATAarg) == "set::none:0:LAB:32";
                },
                {"!for switch -t."}},
        OptCase{{"-b", "-d", "SMS:tape0", "-t", "LAB:12x", "-s", "set", "/a"}, 0,
                [] { return G().sSMS.ulTapeID == 12; }, {}},
        OptCase{{"-b", "-d", "SMS", "-s", "x", "/a"}, -1, [] { return true; },
                {"vrk -b|r|g|p|k|h", "ERR: -1"}}));

INSTANTIATE_TEST_SUITE_P(
    Hosts, OptionTable,
    testing::Values(
        OptCase{{"-b", "-S", "node", "-s", "x", "/a"}, 0,
                [] {
                  return S(G().sSMS.cpHost) == "ftp://node" && G().sSMS.iPort == 11001 &&
                         G().sSMS.iLPortStart == 0 && G().sSMS.iLPortEnd == 0;
                },
                {}},
        OptCase{{"-b", "-S", "https://node:443,5000-5010", "-s", "x", "/a"}, 0,
                [] {
                  return S(G().sSMS.cpHost) == "https://node" && G().sSMS.iPort == 443 &&
                         G().sSMS.iLPortStart == 5000 && G().sSMS.iLPortEnd == 5010;
                },
                {"Storage Host:     https://node:443,5000-5010:"}},
        OptCase{{"-b", "-S", "node:12000", "-s", "x", "/a"}, 0,
                [] { return S(G().sSMS.cpHost) == "ftp://node" && G().sSMS.iPort == 12000; }, {}},
        OptCase{{"-b", "-S", "http://node", "/a"}, -1,
                [] { return S(G().sSMS.cpHost) == "localhost"; },
                {"Option -S requires an argument."}},
        OptCase{{"-b", "-S", "node:70000", "/a"}, -1, [] { return G().sSMS.iPort == 11001; },
                {"Invalid argument [node:70000] for switch -S."}},
        OptCase{{"-b", "-S", "node:1,20-10", "/a"}, -1, [] { return true; }, {"-S."}},
        OptCase{{"-b", "-S", "node:1,0-70000", "/a"}, -1, [] { return true; }, {"-S."}},
        OptCase{{"-b", "-S", "node:abc", "/a"}, -1, [] { return true; }, {"-S."}},
        OptCase{{"-b", "-S", "node:1,0-0x", "/a"}, -1, [] { return true; },
                {"Option -S requires an argument."}},
        OptCase{{"-b", "-C", "ctl:2000:usr:pw", "-v", "3", "-s", "x", "/a"}, 0,
                [] {
                  const _sVRKMsgTarget &m = G().sVRKMsgTarget;
                  return std::string(m.szHostName) == "ctl" && m.iPort == 2000 &&
                         std::string(m.szUser) == "usr" && std::string(m.szPassword) == "pw";
                },
                {"Control Host:     ctl:2000:usr:****"}},
        OptCase{{"-b", "-C", "ctl::", "-s", "x", "/a"}, 0,
                [] {
                  return std::string(G().sVRKMsgTarget.szHostName) == "ctl" &&
                         G().sVRKMsgTarget.iPort == 11001;
                },
                {"Control Host:     ctl:11001::"}},
        // The flag is read as a decimal: its leading digits, 0 without any;
        // the password stays masked.
        OptCase{{"-b", "-v", "5", "-N", "a:b:c:d:Secr3t:l", "-s", "x", "/a"}, 0,
                [] {
                  return G().sVRKNlm.iRSFlag == 0 && std::string(G().sVRKNlm.szPassword) == "Secr3t" &&
                         std::string(gszNetwareArg) == "a:b:c:d:****:0";
                },
                {"Netware argument: a:b:c:d:****:0", "!Secr3t", "!for switch -N."}},
        OptCase{{"-b", "-v", "5", "-N", "a:b:c:d:Secr3t:7x", "-s", "x", "/a"}, 0,
                [] { return G().sVRKNlm.iRSFlag == 7; },
                {"Netware argument: a:b:c:d:****:7", "!Secr3t"}},
        OptCase{{"-b", "-C", "a:1:b:c:d", "/a"}, -1, [] { return true; },
                {"Option -C requires an argument."}},
        // The control host's port is only shown: taken as it reads.
        OptCase{{"-b", "-C", "a:99999", "-s", "x", "/a"}, 0,
                [] { return std::string(G().sVRKMsgTarget.szHostName) == "a" && G().sVRKMsgTarget.iPort == 99999; },
                {"Control Host:     a:99999::", "!-C."}},
        OptCase{{"-b", "-C", "ctl:abc", "-s", "x", "/a"}, 0,
                [] { return G().sVRKMsgTarget.iPort == 0; }, {"Control Host:     ctl:0::", "!-C."}},
        OptCase{{"-b", "-C", "ctl:2000x", "-s", "x", "/a"}, 0,
                [] { return G().sVRKMsgTarget.iPort == 2000; }, {}}));

INSTANTIATE_TEST_SUITE_P(
    Sources, OptionTable,
    testing::Values(
        OptCase{{"-b", "-F", "pipe", "-s", "x", "/ignored"}, 0,
                [] {
                  return S(G().sVRKObject.cpItem[0]) == "pipe" &&
                         G().sVRKObject.cpItem[1] == nullptr &&
                         std::string(G().szTargetPath[0]) == "pipe" && G().eBackupType == COPY;
                },
                {"Skip further arguments, e.g. [/ignored] bcs. source file names are given via pipe"}},
        OptCase{{"-b", "-F", "CPIO_ASCII", "-s", "x", "/a"}, 0,
                [] { return G().eHdrFmt == HDR_CPIO_ASCII; }, {}},
        OptCase{{"-b", "-F", "RAW", "-s", "x", "/a"}, 0,
                [] { return G().eHdrFmt == HDR_RAW && S(G().sSMS.cpInter) == "none"; }, {}},
        OptCase{{"-b", "-F", "sidf", "-s", "x", "/a"}, 0,
                [] { return G().eHdrFmt == HDR_RAW && S(G().sSMS.cpInter) == "sidf"; }, {}},
        OptCase{{"-b", "-f", "", "/a"}, -1, [] { return true; },
                {"Backup source not specified. Exiting."}},
        OptCase{{"-b", "-f", "@@list", "-s", "x"}, 0,
                [] {
                  return S(G().sVRKObject.cpIncludeList) == "@list" &&
                         S(G().sVRKObject.cpItem[0]) == "pipe" &&
                         std::string(G().szTargetPath[0]) == "pipe";
                },
                {}},
        OptCase{{"-b", "-f", "@@stdin", "-s", "x"}, 0,
                [] { return S(G().sVRKObject.cpIncludeList) == "@@stdin"; }, {}},
        OptCase{{"-b", "-f", "@-", "-s", "x"}, 0,
                [] {
                  return S(G().sVRKObject.cpIncludeList) == "-" &&
                         std::string(G().szTargetPath[0]) == "-";
                },
                {}},
        OptCase{{"-b", "-f", "@/etc/list", "-s", "x", "/a"}, 0,
                [] {
                  return S(G().sVRKObject.cpIncludeList) == "@/etc/list" &&
                         S(G().sVRKObject.cpItem[0]) == "/a";
                },
                {}},
        OptCase{{"-b", "-f", "-", "-s", "x"}, 0,
                [] {
                  return S(G().sVRKObject.cpIncludeList) == "-" &&
                         S(G().sVRKObject.cpItem[0]) == "pipe";
                },
                {}},
        OptCase{{"-r", "-F", "pipe", "-s", "x"}, 0, [] { return G().eHdrFmt == HDR_RAW; }, {}},
        OptCase{{"-b", "-x", "*.tmp,*.bak", "-x", "core", "-s", "x", "/a"}, 0,
                [] {
                  return S(G().sVRKObject.cpExclude[0]) == "*.tmp" &&
                         S(G().sVRKObject.cpExclude[1]) == "*.bak" &&
                         S(G().sVRKObject.cpExclude[2]) == "core" &&
                         G().sVRKObject.cpExclude[3] == nullptr;
                },
                {}},
        OptCase{{"-b", "-s", "x", "/My", "Docs,", "/b"}, 0,
                [] {
                  return S(G().sVRKObject.cpItem[0]) == "/My Docs" &&
                         S(G().sVRKObject.cpItem[1]) == "/b";
                },
                {}},
        // RENAME with OVERWRITE: the second is refused, the job goes on with
        // the first, and the message raises the status.
        OptCase{{"-r", "-o", "ov", "-o", "ren", "-s", "x"}, 0,
                [] {
                  return G().sOptions.iOverwrite == 1 && G().sOptions.iRename == 0 &&
                         G().sVRKObject.eOperStatus == STATUS_ERR_BEF_SAV;
                },
                {"Invalid argument [REN] for switch -o.", "!usage:", "Operation:        RESTORE"}},
        OptCase{{"-r", "-o", "ren,plain,ov", "-s", "x"}, 0,
                [] {
                  return G().sOptions.iRename == 1 && G().sOptions.iOverwrite == 0 &&
                         G().sOptions.iPlain == 1 && std::string(G().sSMS.cpDATAFlags) == "fp";
                },
                {"Invalid argument [OV] for switch -o."}},
        // A trailing comma is an empty keyword: RENAME, refused after OVERWRITE.
        OptCase{{"-r", "-o", "overwrite,", "-s", "x"}, 0,
                [] { return G().sOptions.iOverwrite == 1 && G().sOptions.iRename == 0; },
                {"Invalid argument [] for switch -o.", "!usage:"}},
        OptCase{{"-b", "-o", "bogus", "/a"}, -1, [] { return true; },
                {"Invalid argument [BOGUS] for switch -o.", kHelp}},
        OptCase{{"-b", "-L", "LOCAL", "-L", "NONE", "-s", "x", "/a"}, 0,
                [] { return G().sVRKMsgTarget.iLogFile == 0 && G().sVRKMsgTarget.iLeaveLocal == 1; },
                {"option parser, revision"}},
        OptCase{{"-b", "-L", "bogus", "/a"}, -1, [] { return true; },
                {"Invalid argument [bogus] for switch -L."}},
        OptCase{{"-b", "-L", "CONTROL:../../etc/x", "/a"}, -1, [] { return true; },
                {"for switch -L."}},
        OptCase{{"-b", "-L", "a:b:c:d", "/a"}, -1, [] { return true; }, {"for switch -L."}}));

TEST_F(Options, OptionErrorShowsBannerMessageHelpAndOsLineInOrder) {
  ParseRun r = Run({"-b", "-q"});
  EXPECT_EQ(-1, r.rc);
  size_t banner = r.err.find("vrk-3036");
  size_t msg = r.err.find("vrk-1002");
  size_t help = r.err.find("vrk-3000");
  size_t os = r.err.find("vrk-3019");
  ASSERT_NE(std::string::npos, os);
  EXPECT_LT(banner, msg);
  EXPECT_LT(msg, help);
  EXPECT_LT(help, os);
  EXPECT_EQ(STATUS_ERR_BEF_SAV, spGlobal->sVRKObject.eOperStatus);
}

TEST_F(Options, LogTargetErrorShowsTheOsLineTwice) {
  ParseRun r = Run({"-b", "-L", "bogus"});
  size_t first = r.err.find("vrk-3019");
  ASSERT_NE(std::string::npos, first);
  EXPECT_NE(std::string::npos, r.err.find("vrk-3019", first + 1));
}

TEST_F(Options, SmsLoginIsMaskedEverywhere) {
  Argv a({"-b", "-v", "5", "-N", "SMDR1:SRV1.TSA:SRV1:admin:Secr3t:1", "-s", "x", "/a"});
  ParseRun r = vrktest::RunParser(a);
  ASSERT_EQ(0, r.rc) << r.err;
  const _sVRKNlm &n = spGlobal->sVRKNlm;
  EXPECT_STREQ("SMDR1", n.szSMDR);
  EXPECT_STREQ("SRV1.TSA", n.szTSA);
  EXPECT_STREQ("", n.szTS);
  EXPECT_STREQ("admin", n.szUser);
  EXPECT_STREQ("Secr3t", n.szPassword);
  EXPECT_EQ(1, n.iRSFlag);
  EXPECT_STREQ("SMDR1:SRV1.TSA::admin:****:1", gszNetwareArg);
  EXPECT_EQ(gszNetwareArg, a.argv()[5]);
  // The original bytes no longer hold the password either.
  EXPECT_EQ(std::string::npos, a.original(5).find("Secr3t"));
  EXPECT_EQ(std::string::npos, r.err.find("Secr3t")) << r.err;
  EXPECT_TRUE(Has(r.err, "Reset Target Service name [SRV1] to []"));
  EXPECT_TRUE(Has(r.err, "\"SMDR1:SRV1.TSA::admin:****:1\""));
  EXPECT_TRUE(Has(r.err, "Netware argument: SMDR1:SRV1.TSA::admin:****:1"));
}

TEST_F(Options, SmsLoginAttachedFormIsBlankedInPlace) {
  Argv a({"-b", "-NSMDR:TSA:TS:user:pw9:0", "-s", "x", "/a"});
  ParseRun r = vrktest::RunParser(a);
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_STREQ("pw9", spGlobal->sVRKNlm.szPassword);
  EXPECT_EQ(std::string::npos, std::string(a.argv()[2]).find("pw9"));
  EXPECT_EQ(std::string::npos, r.err.find("pw9"));
}

TEST_F(Options, EncipheredSmsPasswordIsDecipheredWithTheSavesetKey) {
  unsigned char savedIv[CBC_IV_SIZE];
  memcpy(savedIv, cbc_iv, sizeof(savedIv));
  char enc[1024] = {0};
  std::string plain = "Secr3t", phrase = "Bset1";
  ASSERT_EQ(0, vrk_encrypt_password(enc, &plain[0], 0, &phrase[0]));
  memcpy(cbc_iv, savedIv, sizeof(savedIv));
  std::string wrapped = enc[0] == '{' ? std::string(enc) : "{" + std::string(enc) + "}";

  ParseRun r = Run({"-b", "-N", "S:T:TS:u:" + wrapped + ":0", "-s", "set1", "/a"});
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_STREQ("Secr3t", spGlobal->sVRKNlm.szPassword);
  EXPECT_EQ(std::string::npos, r.err.find("Secr3t"));
  // Another saveset is another key: the password does not decipher.
  r = Run({"-b", "-N", "S:T:TS:u:" + wrapped + ":0", "-s", "other", "/a"});
  EXPECT_EQ(-1, r.rc);
}

TEST_F(Options, SmsLoginRefusals) {
  ParseRun r = Run({"-b", "-N", "a:b:c:d:e:0:extra", "/a"});
  EXPECT_EQ(-1, r.rc);
  EXPECT_TRUE(Has(r.err, "Option -N requires an argument."));
  std::string pw(300, 'p');
  r = Run({"-b", "-N", "a:b:c:d:" + pw + ":0", "/a"});
  EXPECT_EQ(-1, r.rc);
  EXPECT_STREQ("", spGlobal->szDB_Pass);
  EXPECT_EQ(std::string::npos, r.err.find("ppppp"));
}

TEST_F(Options, LocalSavesetForms) {
  ParseRun r = Run({"-b", "-s", "-", "/a"});
  EXPECT_EQ(0, r.rc) << r.err;
  EXPECT_STREQ("STDOUT", spGlobal->sLocalSaveset.szName);
  EXPECT_EQ(1, spGlobal->sLocalSaveset.iFilDes);
  r = Run({"-r", "-s", "-", "/a"});
  EXPECT_STREQ("STDIN", spGlobal->sLocalSaveset.szName);
  EXPECT_EQ(0, spGlobal->sLocalSaveset.iFilDes);
  r = Run({"-p", "-s", "-", "/a"});
  EXPECT_EQ(1, spGlobal->sLocalSaveset.iFilDes);
  r = Run({"-b", "-s", "STDOUTX", "/a"});
  EXPECT_STREQ("STDOUTX", spGlobal->sLocalSaveset.szName);
  EXPECT_EQ(1, spGlobal->sLocalSaveset.iFilDes);
  r = Run({"-b", "-s", "@NULL", "/a"});
  EXPECT_EQ(0, r.rc) << r.err;
  EXPECT_TRUE(Has(r.err, "Opening saveset: NULL"));
  EXPECT_TRUE(Has(r.err, "Write to /dev/null"));
  EXPECT_GT(spGlobal->sLocalSaveset.iFilDes, 2);
  EXPECT_STREQ("@NULL", spGlobal->sSMS.cpSaveset);
}

TEST_F(Options, LocalSavesetFileIsCreatedForBackupReadForRestore) {
  struct Case {
    std::string name;
    bool failedMeanwhile;  // a SIGINT came before the commit (in the final sync or before it)
  } cases[] = {
      {"save.dat", false},
      // The longest name a directory takes: its temporary still fits.
      {std::string(255, 'l'), false},
      {"kept.dat", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name.size());
    std::string file = dir_.file(c.name);
    if (c.failedMeanwhile) vrktest::WriteFile(file, "old");
    ParseRun r = Run({"-b", "-s", "@" + file, "/a"});
    EXPECT_EQ(0, r.rc) << r.err;
    // The backup writes beside the saveset until the job has ended well.
    std::string temp;
    DIR *d = opendir(dir_.path().c_str());
    ASSERT_NE(nullptr, d);
    while (struct dirent *de = readdir(d)) {
      std::string n = de->d_name;
      if (n.size() > 8 && n.compare(n.size() - 8, 8, ".vrk-new") == 0) temp = dir_.file(n);
    }
    closedir(d);
    if (c.name.size() < 100) {
      EXPECT_EQ(dir_.file("." + c.name + ".vrk-new"), temp);
    }
    struct stat st;
    ASSERT_EQ(0, stat(temp.c_str(), &st)) << r.err;
    EXPECT_EQ(0u, st.st_mode & 0777 & ~0644u);
    EXPECT_EQ(c.failedMeanwhile, stat(file.c_str(), &st) == 0);
    testing::internal::CaptureStderr();
    struct sigaction old = {}, oldPipe = {};
    if (c.failedMeanwhile) {
      sigaction(SIGPIPE, nullptr, &oldPipe);
      // The client's own handler takes a real SIGINT: it fails the job.
      struct sigaction sa = {};
      sa.sa_sigaction = vrk_sigaction_handler;
      sigemptyset(&sa.sa_mask);
      sa.sa_flags = SA_RESTART | SA_SIGINFO;
      ASSERT_EQ(0, sigaction(SIGINT, &sa, &old));
      ASSERT_EQ(0, raise(SIGINT));
      // The handler ignores SIGPIPE from then on, as the client does.
      sigaction(SIGINT, &old, nullptr);
      sigaction(SIGPIPE, &oldPipe, nullptr);
    }
    EXPECT_EQ(c.failedMeanwhile ? -1 : 0, vrk_saveset_finish(true));
    std::string err = testing::internal::GetCapturedStderr();
    if (c.failedMeanwhile) {
      EXPECT_TRUE(Has(err, "Termination signal received!")) << err;
      EXPECT_EQ(STATUS_ERR_BEF_SAV, spGlobal->sVRKObject.eOperStatus);
    }
    EXPECT_NE(0, stat(temp.c_str(), &st));
    EXPECT_EQ(0, stat(file.c_str(), &st));
    if (c.failedMeanwhile) {
      EXPECT_EQ("old", vrktest::ReadFile(file));
    }
  }
  ParseRun r = Run({"-r", "-s", "@" + dir_.file("missing.dat"), "/a"});
  EXPECT_EQ(-1, r.rc);
  EXPECT_TRUE(Has(r.err, "System call failed: No such file or directory"));
}

TEST_F(Options, SecondSavesetClosesTheFirst) {
  std::string one = dir_.file("one.dat");
  Argv a({"-b", "-s", "@" + one, "-s", "second", "/a"});
  vrktest::FreshGlobal();
  optind = 0;
  testing::internal::CaptureStderr();
  int before = OpenDescriptors();
  int rc = vrk_analyze_opt(a.argc(), a.argv());
  int after = OpenDescriptors();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(0, rc);
  EXPECT_EQ(before, after);
  EXPECT_EQ(-1, spGlobal->sLocalSaveset.iFilDes);
  EXPECT_STREQ("second", spGlobal->sSMS.cpSaveset);
}

TEST_F(Options, OverlongSavesetNameIsRefusedAndNothingIsCreated) {
  std::string name = dir_.path() + "/" + std::string(4200, 'n');
  ParseRun r = Run({"-b", "-s", "@" + name, "/a"});
  EXPECT_EQ(-1, r.rc);
  EXPECT_TRUE(Has(r.err, "for switch -s."));
  EXPECT_EQ(-1, spGlobal->sLocalSaveset.iFilDes);
}

TEST_F(Options, ExcludeFileSecondReplacesFirst) {
  std::string a = dir_.file("a.excl"), b = dir_.file("b.excl");
  vrktest::WriteFile(a, "x\n");
  vrktest::WriteFile(b, "y\n");
  Argv args({"-b", "-X", a, "-X", b, "-s", "x", "/a"});
  vrktest::FreshGlobal();
  optind = 0;
  testing::internal::CaptureStderr();
  int before = OpenDescriptors();
  int rc = vrk_analyze_opt(args.argc(), args.argv());
  int after = OpenDescriptors();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(0, rc) << err;
  // Only the second file stays open.
  EXPECT_EQ(before + 1, after);
  char c = 0;
  EXPECT_EQ(1, pread(spGlobal->sVRKObject.iExcludeFile, &c, 1, 0));
  EXPECT_EQ('y', c);

  ParseRun r = Run({"-b", "-X", dir_.file("none"), "/a"});
  EXPECT_EQ(-1, r.rc);
  EXPECT_TRUE(Has(r.err, "Error while reading exclude pattern file [" + dir_.file("none") +
                             "]:[No such file or directory]."));
}

TEST_F(Options, TooManyExcludePatternsAreRefused) {
  std::string list;
  for (int i = 0; i < 300; ++i) list += "p" + std::to_string(i) + ",";
  ParseRun r = Run({"-b", "-x", list, "/a"});
  EXPECT_EQ(-1, r.rc);
  EXPECT_TRUE(Has(r.err, "for switch -x."));
}

TEST_F(Options, TooManySourcesFailTheParser) {
  V args = {"-b", "-s", "x"};
  for (int i = 0; i < 256; ++i) args.push_back("/v" + std::to_string(i));
  ParseRun r = Run(args);
  EXPECT_EQ(-1, r.rc);
  EXPECT_TRUE(Has(r.err, "Maximum number of backup files in command line exceeded."));
}

TEST_F(Options, PutWritesTheListFile) {
  ParseRun r = RunInDirs({"-p", "/local/file", "remote.set"});
  EXPECT_EQ(0, r.rc) << r.err;
  EXPECT_EQ("/local/file\n", vrktest::ReadFile(dir_.file("PUT.IN")));
  EXPECT_STREQ("remote.set", spGlobal->sSMS.cpSaveset);
  EXPECT_EQ(dir_.file("PUT.IN"), S(spGlobal->sVRKObject.cpIncludeList));
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.cpItem[0]);
  r = RunInDirs({"-p", "/only"});
  EXPECT_STREQ("/only", spGlobal->sSMS.cpSaveset);
}

// The parser ends at once with 0: the PUT goes on without a list, saves
// nothing, and the error line makes its status 3.
TEST_F(Options, PutListThatCannotBeWrittenEndsTheParserWithZero) {
  Argv a({"-p", "/local/file"});
  vrktest::FreshGlobal();
  free(spGlobal->sDirs.cpTmp);
  spGlobal->sDirs.cpTmp = strdup(dir_.file("no/such/dir").c_str());
  ParseRun r = vrktest::RunParser(a, false);
  EXPECT_EQ(0, r.rc);
  EXPECT_TRUE(Has(r.err, "Unable to open file [" + dir_.file("no/such/dir") + "/PUT.IN]"));
  EXPECT_TRUE(Has(r.err, "vrk-2025"));
  EXPECT_FALSE(Has(r.err, "Ending vrk_analyze_opt -1")) << r.err;
  EXPECT_FALSE(Has(r.err, "Operation:        PUT")) << r.err;
  EXPECT_EQ(nullptr, spGlobal->sVRKObject.cpIncludeList);
  EXPECT_EQ(STATUS_ERR_BEF_SAV, spGlobal->sVRKObject.eOperStatus);
}

TEST_F(Options, JobLogGoesToTheLogDirectory) {
  ParseRun r = RunInDirs({"-b", "-L", "LOCAL", "-s", "set1", "/a"});
  ASSERT_EQ(0, r.rc) << r.err;
  std::string log = dir_.file("vrkset1.log");
  EXPECT_STREQ(log.c_str(), spGlobal->sVRKMsgTarget.szLogFile);
  fflush(spGlobal->sVRKMsgTarget.fpLogFileDes);
  std::string text = vrktest::ReadFile(log);
  EXPECT_TRUE(Has(text, "vrk-3036")) << text;
  EXPECT_TRUE(Has(text, "Operation:        BACKUP, Level: COPY"));

  r = RunInDirs({"-r", "-L", "CONTROL:mine.log:/remote", "-s", "set1", "/a"});
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_STREQ(dir_.file("mine.log").c_str(), spGlobal->sVRKMsgTarget.szLogFile);
  EXPECT_STREQ("/remote", spGlobal->sVRKMsgTarget.szLogDir);
  EXPECT_EQ(0, spGlobal->sVRKMsgTarget.iLeaveLocal);

  r = RunInDirs({"-r", "-L", "LOCAL", "-s", "set2", "/a"});
  EXPECT_STREQ(dir_.file("srcset2.log").c_str(), spGlobal->sVRKMsgTarget.szLogFile);
  r = RunInDirs({"-g", "-L", "LOCAL", "dir/remote.set", "/t"});
  EXPECT_STREQ(dir_.file("vrkremote.set.log").c_str(), spGlobal->sVRKMsgTarget.szLogFile);
}

TEST_F(Options, JobLogNameWithSlashIsNotOpened) {
  ParseRun r = RunInDirs({"-b", "-L", "LOCAL", "-s", "../escape", "/a"});
  EXPECT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(nullptr, spGlobal->sVRKMsgTarget.fpLogFileDes);
  EXPECT_TRUE(Has(r.err, "vrk-2024"));
  struct stat st;
  EXPECT_NE(0, stat((dir_.path() + "/vrk../escape.log").c_str(), &st));
}

TEST_F(Options, RestoreTargetAndGroupWisePrefix) {
  ParseRun r = Run({"-r", "-R", "/restore", "-s", "x", "/a"});
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_STREQ("/restore", spGlobal->szTargetArg[1]);
  EXPECT_STREQ("/restore", spGlobal->szTargetArg[0]);
  EXPECT_STREQ("/restore/", spGlobal->szTargetPath[0]);
  EXPECT_TRUE(spGlobal->bRelocationRequired);

  r = Run({"-r", "-R", "groupwise mail server/vol/gw", "-s", "x", "/a"});
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_STREQ("/vol/gw/", spGlobal->szTargetPath[0]);
  EXPECT_TRUE(Has(r.err, "New target path [/vol/gw]"));
}

TEST_F(Options, RelocationPairsWithTheDefaultDelimiter) {
  ParseRun r = Run({"-r", "-R", "/vol1/a==::==/new/a", "-R", "/vol2==::==/x", "-s", "x", "/a"});
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_STREQ("/vol1/a==::==/new/a==::==/vol2==::==/x", spGlobal->szTargetArg[0]);
  EXPECT_STREQ("/vol1/a", spGlobal->szPath[0]);
  EXPECT_STREQ("/new/a/", spGlobal->szTargetPath[0]);
  EXPECT_STREQ("/vol2", spGlobal->szPath[1]);
  EXPECT_STREQ("/x/", spGlobal->szTargetPath[1]);
}

TEST_F(Options, EmptyRelocDelimiterIsChosenFromTheArguments) {
  ParseRun r = Run({"-r", "-o", "relocdeli=", "-R", "/a:/b", "-s", "x", "/a"});
  ASSERT_EQ(0, r.rc) << r.err;
  EXPECT_STREQ(":", spGlobal->szRelocDelimiter);
  r = Run({"-r", "-o", "relocdeli=", "-R", "/a==::==/b", "-s", "x", "/a"});
  EXPECT_STREQ("==::==", spGlobal->szRelocDelimiter);
  r = Run({"-r", "-o", "relocdeli=%", "-R", "/a%/b", "-s", "x", "/a"});
  EXPECT_TRUE(Has(r.err, "Use relocdeli='%' from '-o' option"));
}

TEST_F(Options, The256thRestoreTargetIsRefused) {
  V args = {"-r", "-s", "x"};
  for (int i = 0; i < 256; ++i) {
    args.push_back("-R");
    args.push_back("/t" + std::to_string(i));
  }
  ParseRun r = Run(args);
  EXPECT_EQ(-1, r.rc);
  EXPECT_TRUE(Has(r.err, "Invalid argument [/t255] for switch -R."));
}

TEST_F(Options, JoinedRelocationArgumentThatDoesNotFitIsRefused) {
  V args = {"-r", "-s", "x"};
  for (int i = 0; i < 3; ++i) {
    args.push_back("-R");
    args.push_back("/" + std::string(2000, 'a' + i));
  }
  args.push_back("/a");
  ParseRun r = Run(args);
  EXPECT_EQ(-1, r.rc);
  EXPECT_STREQ("", spGlobal->szTargetArg[0]);
  EXPECT_TRUE(Has(r.err, "for switch -R."));
}

TEST_F(Options, IncrementalWithoutMarkerBecomesFull) {
  Argv a({"-b", "-j", "job", "-l", "incr", "-s", "x", "/a"});
  vrktest::FreshGlobal();
  free(spGlobal->sDirs.cpTimes);
  spGlobal->sDirs.cpTimes = strdup(dir_.path().c_str());
  ParseRun r = vrktest::RunParser(a, false);
  EXPECT_EQ(0, r.rc) << r.err;
  EXPECT_EQ(FULL, spGlobal->eBackupType);
  EXPECT_TRUE(Has(r.err, "vrk-2059"));
  EXPECT_TRUE(Has(r.err, "Level: FULL"));
}

class OptionsDeathTest : public Options {};

TEST_F(OptionsDeathTest, HelpExitsZeroFirstOneLater) {
  EXPECT_EXIT(
      {
        Argv a({"-h"});
        optind = 0;
        vrk_analyze_opt(a.argc(), a.argv());
      },
      testing::ExitedWithCode(0), "usage:");
  EXPECT_EXIT(
      {
        Argv a({"-b", "-h"});
        optind = 0;
        vrk_analyze_opt(a.argc(), a.argv());
      },
      testing::ExitedWithCode(1), "usage:");
}

}  // namespace
