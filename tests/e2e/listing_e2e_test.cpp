// End-to-end tests of resource listings (vrk_nlm -D) against stand-in worlds:
// resource lines and sizes, the volume filter, and GroupWise 2012 nodes read
// through the stand-in of the server's control program.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kv_ctrlc_standin.h"
#include "vrk_test_util.h"

extern char **environ;

namespace {

const char *const kBinary = VRK_TEST_BINARY_DIR "/src/engine/vrk_nlm";
const char *const kGW = "srv1.GroupWise System 2012";

struct Result {
  int status = -1;
  std::string out, err;
  int exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

// A run directory with the main ini file, the world, and the control program.
class Job {
 public:
  explicit Job(const std::string &world) : ctrl_(dir_.file("ctrl")) {
    for (const char *d : {"tmp", "times", "log", "data"}) mkdir(dir_.file(d).c_str(), 0755);
    vrktest::WriteFile(dir_.file("korva.ini"), "gv_rw_tmp=" + dir_.file("tmp") + "\n" +
                                                   "gv_rw_vrk_times=" + dir_.file("times") + "\n" +
                                                   "gv_rw_vrk_log=" + dir_.file("log") + "\n");
    std::string body = world;
    size_t p;
    while ((p = body.find("@DATA@")) != std::string::npos) body.replace(p, 6, dir_.file("data"));
    vrktest::WriteFile(dir_.file("world"), "[world]\nlog = " + dir_.file("calls.log") + "\n" + body);
  }
  const vrktest::CtrlStandIn &ctrl() const { return ctrl_; }
  std::string file(const std::string &name) const { return dir_.file(name); }
  void DataDir(const std::string &name) const { mkdir(dir_.file("data/" + name).c_str(), 0755); }

  Result Run(const std::vector<std::string> &args) const {
    std::string outFile = dir_.file("out.txt"), errFile = dir_.file("err.txt");
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
      std::string v = *e;
      if (v.rfind("VRK_", 0) == 0 || v.rfind("KV_INI=", 0) == 0 || v.rfind("KORVA_INI=", 0) == 0)
        continue;
      env.push_back(v);
    }
    env.push_back("VRK_SMS_WORLD=" + dir_.file("world"));
    env.push_back("KV_INI=" + dir_.file("korva.ini"));
    env.push_back("KORVA_INI=" + ctrl_.boot());
    env.push_back("VRK_TEST_DELAY_SCALE=0");
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.path().c_str()) != 0) _exit(120);
      int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int in = open("/dev/null", O_RDONLY);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      dup2(in, STDIN_FILENO);
      std::vector<char *> argv{const_cast<char *>(kBinary)};
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      std::vector<char *> envp;
      for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
      envp.push_back(nullptr);
      execve(kBinary, argv.data(), envp.data());
      _exit(121);
    }
    Result r;
    waitpid(pid, &r.status, 0);
    r.out = vrktest::ReadFile(outFile);
    r.err = vrktest::ReadFile(errFile);
    return r;
  }

 private:
  vrktest::TempDir dir_;
  vrktest::CtrlStandIn ctrl_;
};

std::string Res(const std::string &name, const std::string &size) {
  return "\"" + name + "\" dm 2000.01.01 00:00:00 2000.01.01 00:00:00 " + size + " - ,\n";
}

std::string Comp(const std::string &name, const std::string &size, const std::string &home) {
  return "\"" + name + "\" dm 2000.01.01 00:00:00 2000.01.01 00:00:00 " + size + " - , path: " +
         home + "\n";
}

std::string Tsa(const std::string &name) {
  return "\"" + name + "\" d_ 2000.01.01 00:00:00 2000.01.01 00:00:00 4096 - ,\n";
}

// Only the resource and component lines of an output.
std::string ResourceLines(const std::string &out) {
  std::istringstream in(out);
  std::string line, keep;
  while (std::getline(in, line))
    if (line.find("\" dm 2000.01.01") != std::string::npos) keep += line + "\n";
  return keep;
}

const char kGWWorld[] =
    "[smdr srv1]\n[tsa srv1.Linux File System]\nresource / = @DATA@\n";

Job *GroupWiseJob() {
  Job *job = new Job(kGWWorld);
  vrktest::GroupWiseNode(job->ctrl());
  for (const char *d : {"po1", "dom1", "gwdva"}) job->DataDir(d);
  return job;
}

}  // namespace

// Sizes in 64 bits: 1000 blocks of 4096 with 250 free, a failed query (0,
// not the size before it), a full free volume, and a size beyond 32 bits.
TEST(ResourceListing, VolumeLinesWithTheirUsedSizes) {
  Job job(
      "fault NWSMTSGetTargetResourceInfo = 2 0xFFFDFFDD\n"
      "[smdr srv1]\n[tsa srv1.NetWare File System]\n"
      "resource VOL1: = @DATA@\nresource VOL2: = @DATA@\nresource VOL3: = @DATA@\n"
      "resource VOL4: = @DATA@\n"
      "blocks VOL1: = 4096 1000 250\nblocks VOL2: = 4096 1000 250\n"
      "blocks VOL3: = 4096 1000 1000\nblocks VOL4: = 65536 4000000 0\n");
  Result r = job.Run({"-D", "/NetWare/srv1.NetWare File System"});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  EXPECT_EQ(r.out, Res("VOL1:", "3072000") + Res("VOL2:", "0") + Res("VOL3:", "0") +
                       Res("VOL4:", "262144000000"));
  EXPECT_NE(r.err.find("Resource: [VOL4:]"), std::string::npos);

  // At log level 5 the name spaces of every resource are logged.
  r = job.Run({"-D", "/NetWare/srv1.NetWare File System", "-v", "5"});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  EXPECT_NE(r.err.find("supported nameSpaces of [VOL3:]"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("default   : [0X002: NFS]"), std::string::npos);
  EXPECT_NE(r.err.find("supported : [0X004: LONG]"), std::string::npos);
  EXPECT_NE(r.err.find("end of supported nameSpaces of [VOL4:]"), std::string::npos);
}

// Below the top of a cluster file system only NSS volumes are listed, and
// only those directly below the browse path.
TEST(ResourceListing, VolumeFilterKeepsOnlyNssVolumes) {
  Job job(
      "[smdr srv1]\n[tsa srv1.Linux Cluster File System]\n"
      "resource / = @DATA@\nresource /pool1 = @DATA@\nresource /pool2 = @DATA@\n"
      "resource /pool1/deep = @DATA@\n"
      "mount / = nssvol\nmount /pool1 = nssvol\nmount /pool1/deep = nssvol\n");
  Result r = job.Run({"-D", "/NetWare/srv1.Linux Cluster File System", "-v", "4"});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  std::string lines = ResourceLines(r.out);
  EXPECT_EQ(lines.rfind("\"/pool1\" dm ", 0), 0u) << r.out;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << r.out;
  EXPECT_EQ(r.out.find("/pool2"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("/pool1/deep"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("list_resources: mount type 'local' > skip it"), std::string::npos);
}

TEST(GroupWiseListing, TsaLevelOffersThePseudoTsa) {
  std::unique_ptr<Job> job(GroupWiseJob());
  Result r = job->Run({"-D", "/NetWare"});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  EXPECT_EQ(r.out, Tsa(kGW) + Tsa("srv1.Linux File System"));
  // The node's files were read by the control program, named by arguments.
  std::string args = job->ctrl().args();
  EXPECT_NE(args.find("ARGS <-l> <root> <srv1> <kv_client>"
                      " <-f> <u> <-m> <r> <-n> </etc/opt/novell/groupwise/gwzem.conf>"),
            std::string::npos)
      << args;
  EXPECT_NE(args.find("<-n> </opt/novell/groupwise/agents/share/po1.poa>"), std::string::npos);
  EXPECT_NE(args.find("<-n> </etc/gw/dom1.mta>"), std::string::npos);
}

// The root of the pseudo TSA lists the components that have a home
// directory, with their disk usage; a failed usage query shows 0.
TEST(GroupWiseListing, RootListsTheComponentsWithTheirHomes) {
  std::unique_ptr<Job> job(GroupWiseJob());
  Result r = job->Run({"-D", std::string("/NetWare/") + kGW, "-v", "4"});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  // (At log level 3 and above the SMDR list is printed before the lines.)
  EXPECT_EQ(ResourceLines(r.out), Comp("1[PO]po1:", "5120000000", "/po1") + Comp("2[DOM]dom1:", "0", "/dom1") +
                       Comp("4[DMS]gwdva:", "10240", "/gwdva"));
  EXPECT_NE(r.err.find("GroupWise 2012 detected"), std::string::npos);
  // The startup file that cannot be read (exit 2) is no error.
  EXPECT_NE(r.err.find("No access to startup file [srv1:/opt/novell/groupwise/agents/share/"
                       "missing.poa] of poX"),
            std::string::npos);
  EXPECT_NE(job->ctrl().args().find("<kv_client> <-f> <du> </po1>"), std::string::npos);
}

// A browse path below a component becomes the component's home directory,
// which the scan then lists; an unknown component is an error.
TEST(GroupWiseListing, ComponentPathMapsToItsHome) {
  std::unique_ptr<Job> job(GroupWiseJob());
  job->DataDir("dom1/sub");
  job->DataDir("dom1/sub/inner");
  vrktest::WriteFile(job->file("data/dom1/sub/f.txt"), "x");
  Result r = job->Run({"-D", std::string("/NetWare/") + kGW + "/2[DOM]dom1:/sub", "-v", "4"});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  EXPECT_NE(r.err.find("push dir (4) [\"/dom1/sub\" dm"), std::string::npos) << r.err;
  // The items are checked before the scan that lists them.
  const size_t checked = r.err.find("check cpItem[1] 2[DOM]dom1:/sub, cpItem[0] /dom1/sub");
  EXPECT_NE(checked, std::string::npos);
  EXPECT_LT(checked, r.err.find("ScanAndReadDataSets: backup [0]")) << r.err;
  // The scan of the home directory lists what lies below it.
  EXPECT_NE(r.out.find("inner\" d_"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("f.txt\" f_"), std::string::npos) << r.out;

  r = job->Run({"-D", std::string("/NetWare/") + kGW + "/1[PO]nosuch:", "-v", "4"});
  EXPECT_EQ(r.exitCode(), 3);
  EXPECT_NE(r.err.find("Error [1[PO]nosuch:] not found"), std::string::npos) << r.err;
}

// A startup file without "--home" is an error; without any component the
// pseudo TSA is not offered.
TEST(GroupWiseListing, StartupFileWithoutHome) {
  Job job(kGWWorld);
  job.ctrl().File("/etc/opt/novell/groupwise/gwha.conf",
                  "[po2]\nserver = gwpoa\nstartup = /gw/po2.poa\n");
  job.ctrl().File("/gw/po2.poa", "--port 1677\n");
  Result r = job.Run({"-D", "/NetWare"});
  EXPECT_EQ(r.exitCode(), 0) << r.err;  // the TSA level exits with 0 by itself
  EXPECT_NE(r.err.find("Error:    Failed to read startup file [srv1:/gw/po2.poa] of po2"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, Tsa(kGW) + Tsa("srv1.Linux File System"));

  Job none(kGWWorld);
  r = none.Run({"-D", "/NetWare"});
  EXPECT_EQ(r.out, Tsa("srv1.Linux File System"));
}

// Paths and node names reach the control program as arguments of their own:
// no shell ever sees them.
TEST(GroupWiseListing, NoShellCommandLine) {
  const std::string home = "/a b;touch pwned $(touch pwned2)";
  Job job(kGWWorld);
  job.ctrl().File("/etc/opt/novell/groupwise/gwzem.conf", "[evil.x]\nhome = " + home + "\n");
  job.ctrl().File("/etc/opt/novell/groupwise/gwha.conf",
                  "[po1]\nserver = gwpoa\nstartup = /gw/po1.poa\n");
  job.ctrl().File("/gw/po1.poa", "--home /po1\n");
  job.ctrl().Du(home, "3");
  job.DataDir("po1");
  job.DataDir(home.substr(1));
  Result r = job.Run({"-D", std::string("/NetWare/") + kGW});
  EXPECT_EQ(r.exitCode(), 0) << r.err;
  EXPECT_EQ(r.out, Comp("1[PO]po1:", "0", "/po1") + Comp("2[DMS]evil:", "3072", home));
  EXPECT_NE(job.ctrl().args().find("<du> <" + home + ">"), std::string::npos);
  struct stat st;
  EXPECT_NE(stat(job.file("pwned").c_str(), &st), 0);
  EXPECT_NE(stat(job.file("pwned2").c_str(), &st), 0);
}
