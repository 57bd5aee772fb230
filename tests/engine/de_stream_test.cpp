// Tests of the DE record stream: golden bytes of the writer, the reader
// against damaged objects and slow descriptors, and the storage node roads.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/vrk_client_fixture.h"
#include "client/vrk_signal.h"
#include "engine/de_codec.h"
#include "engine/de_stream.h"
#include "engine/engine_globals.h"
#include "engine/session.h"
#include "runtime/strlib.h"
#include "sms/smsapi.h"
#include "xbsa/xbsa_http_peer.h"
#include "xbsa/xbsa_peers.h"
#include "xbsa/xbsa_session.h"

using namespace vrktest;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using testing::internal::CaptureStdout;

namespace {

std::string LE16(uint16_t v) { return std::string{(char)(v & 0xFF), (char)(v >> 8)}; }
std::string LE32(uint32_t v) {
  return std::string{(char)(v & 0xFF), (char)((v >> 8) & 0xFF), (char)((v >> 16) & 0xFF), (char)(v >> 24)};
}
std::string Header(int parent, int tno, uint32_t size, uint16_t nameSize) {
  return std::string{(char)parent, (char)tno} + LE32(size) + LE16(nameSize);
}
std::string Marker() { return Header(0, 0, 0xFFFFFFFFu, 0); }
// A name list: its 16-bit size, then the bytes.
std::string List(const std::string &body) { return LE16((uint16_t)body.size()) + body; }
std::string Record(int parent, int tno, uint32_t create, uint32_t modified, const std::string &list,
                   const std::string &data) {
  return Header(parent, tno, (uint32_t)data.size(), (uint16_t)(list.size() + 8)) + LE32(create) + LE32(modified) +
         list + data;
}

void SetText(char *&field, const std::string &value) {
  free(field);
  field = strdup(value.c_str());
}

class DEStreamTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    signal(SIGPIPE, SIG_IGN);
    xbsa_reset_library();
    vrk_nlm_interactive = 0;
    spGlobal->iAlarmIntervall = 0;
    spGlobal->iDataWait = 5;
    spGlobal->lBufferSize = 65536;
    spGlobal->iLogLevel = 1;
    spGlobal->eBackupType = FULL;
    strlcpy(spGlobal->szJobName, "job", sizeof spGlobal->szJobName);
    SetText(spGlobal->sDirs.cpTmp, tmp_.path());
    SetText(spGlobal->sSMS.cpSaveset, "dummy");
    session_ = GetSessionInfoBuffer();
    ASSERT_NE(session_, nullptr);
  }
  void TearDown() override {
    if (session_ != nullptr) {
      if (session_->dataFile != nullptr || spGlobal->lBSAHandle != 0) CloseDEFiles(session_);
      ReleaseSessionInfoBuffer(session_);
    }
    xbsa_reset_library();
    vrk_nlm_interactive = 0;
    ClientTest::TearDown();
  }

  CCODE OpenFd(char mode, int fd) {
    spGlobal->sLocalSaveset.iFilDes = fd;
    strlcpy(spGlobal->sLocalSaveset.szName, "saveset", sizeof spGlobal->sLocalSaveset.szName);
    return OpenDEFiles(mode, session_, 0);
  }
  CCODE OpenFile(char mode, const std::string &path) {
    int fd = mode == 'w' ? open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600) : open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    return OpenFd(mode, fd);
  }
  CCODE OpenBytes(const std::string &bytes) {
    WriteFile(tmp_.file("in"), bytes);
    return OpenFile('r', tmp_.file("in"));
  }

  struct Got {
    bool ok = false;
    UINT32 size = 0;
    UINT8 parent = 0, tno = 0;
    std::string list, data;
  };
  Got Read() {
    Got g;
    NWSM_DATA_SET_NAME_LIST *name = nullptr;
    BUFFER *buf = ReadDEFiles(&g.size, &g.parent, &g.tno, session_, &name);
    g.ok = buf != nullptr;
    if (name != nullptr) {
      g.list.assign((const char *)name, DENameListSize(name));
      free(name);
    }
    if (buf != nullptr && g.size != DE_END_OF_RECORD) g.data.assign((const char *)buf, g.size);
    return g;
  }
  CCODE Write(const std::string &data, const std::string &list, int parent = 0, int tno = 1, UINT32 create = 0,
              UINT32 modified = 0) {
    std::string l = list;
    return WriteDEFiles((BUFFER *)data.data(), (UINT32)data.size(), (UINT8)parent, create, modified, (UINT8)tno,
                        session_, (NWSM_DATA_SET_NAME_LIST *)&l[0]);
  }
  CCODE WriteMarker() { return WriteDEFiles(nullptr, DE_END_OF_RECORD, 0, 0, 0, 0, session_, nullptr); }

  TempDir tmp_;
  SESSION_INFORMATION *session_ = nullptr;
};

TEST_F(DEStreamTest, CodecLayout) {
  DEdataType h = {1, 1, 0x01020304u, 0x0506};
  UINT8 out[DE_HEADER_SIZE];
  DEEncodeHeader(&h, out);
  EXPECT_EQ(std::string((char *)out, 8), Header(1, 1, 0x01020304u, 0x0506));
  DEdataType back = {};
  DEDecodeHeader(out, &back);
  EXPECT_EQ(back.recordSize, 0x01020304u);
  EXPECT_EQ(back.dataSetNameSize, 0x0506);
  EXPECT_EQ(back.parent, 1);

  std::string list = List("abc");
  std::vector<UINT8> block(DENameBlockSize(list.data()));
  ASSERT_EQ(block.size(), 13u);
  DEEncodeNameBlock(0x11223344u, 0x55667788u, list.data(), block.data());
  EXPECT_EQ(std::string((char *)block.data(), block.size()), LE32(0x11223344u) + LE32(0x55667788u) + list);
  UINT32 c = 0, m = 0;
  EXPECT_TRUE(DECheckNameBlock(block.data(), block.size(), &c, &m));
  EXPECT_EQ(c, 0x11223344u);
  EXPECT_EQ(m, 0x55667788u);
  EXPECT_FALSE(DECheckNameBlock(block.data(), block.size() - 1, nullptr, nullptr));
  // A list too large for the header's 16-bit name size.
  std::string huge = LE16(0xFFFF);
  EXPECT_EQ(DENameBlockSize(huge.data()), 0u);
}

TEST_F(DEStreamTest, WriterGoldenBytes) {
  const std::string list = List("VOL1:/dir/a.txt");
  const std::string data = Pattern(65536 + 100, 1);
  ASSERT_EQ(OpenFile('w', tmp_.file("set")), 0u);
  EXPECT_EQ(Write(data.substr(0, 65536), list, 0, 1, 0x4A214C21u, 0x4B225D32u), 0u);
  EXPECT_EQ(Write(data.substr(65536), list, 0, 1, 0x4A214C21u, 0x4B225D32u), 0u);
  EXPECT_EQ(WriteMarker(), 0u);
  // A data set of 0 bytes, a parent.
  const std::string dir = List("VOL1:/dir/");
  EXPECT_EQ(Write("", dir, 1, 1, 7, 8), 0u);
  EXPECT_EQ(WriteMarker(), 0u);
  CloseDEFiles(session_);
  EXPECT_EQ(spGlobal->sLocalSaveset.iFilDes, -1);
  EXPECT_EQ(session_->dataFile, nullptr);

  const std::string expect = Marker() + Record(0, 1, 0x4A214C21u, 0x4B225D32u, list, data.substr(0, 65536)) +
                             Record(0, 1, 0x4A214C21u, 0x4B225D32u, list, data.substr(65536)) + Marker() +
                             Record(1, 1, 7, 8, dir, "") + Marker();
  std::string got = ReadFile(tmp_.file("set"));
  EXPECT_EQ(got.size(), expect.size());
  EXPECT_TRUE(got == expect);
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK);
  // The markers of a FULL backup were prepared.
  EXPECT_EQ(access(tmp_.file("job.I." + std::to_string((long)getpid())).c_str(), F_OK), 0);
  EXPECT_EQ(access(tmp_.file("job.D." + std::to_string((long)getpid())).c_str(), F_OK), 0);
}

TEST_F(DEStreamTest, ReadsBackWhatWasWritten) {
  NWSM_DATA_SET_NAME_LIST *real = nullptr;
  ASSERT_EQ(NWSMPutOneName(&real, NFSNameSpace, 0, 0, "/", "/", "/srv/data/file.bin"), 0u);
  const std::string list((const char *)real, DENameListSize(real));
  free(real);
  const std::string data = Pattern(65536 + 100, 2);
  ASSERT_EQ(OpenFile('w', tmp_.file("set")), 0u);
  EXPECT_EQ(Write(data.substr(0, 65536), list, 1, 1), 0u);
  EXPECT_EQ(Write(data.substr(65536), list, 1, 1), 0u);
  EXPECT_EQ(WriteMarker(), 0u);
  EXPECT_EQ(Write("", list, 0, 0), 0u);
  EXPECT_EQ(WriteMarker(), 0u);
  CloseDEFiles(session_);

  ASSERT_EQ(OpenFile('r', tmp_.file("set")), 0u);
  Got g = Read();
  EXPECT_TRUE(g.ok);
  EXPECT_EQ(g.size, DE_END_OF_RECORD);
  g = Read();
  EXPECT_EQ(g.size, 65536u);
  EXPECT_EQ(g.parent, 1);
  EXPECT_EQ(g.tno, 1);
  EXPECT_TRUE(g.list == list);
  EXPECT_TRUE(g.data == data.substr(0, 65536));
  g = Read();
  EXPECT_EQ(g.size, 100u);
  EXPECT_TRUE(g.data == data.substr(65536));
  EXPECT_EQ(Read().size, DE_END_OF_RECORD);
  g = Read();
  EXPECT_TRUE(g.ok);
  EXPECT_EQ(g.size, 0u);
  EXPECT_TRUE(g.list == list);
  EXPECT_EQ(Read().size, DE_END_OF_RECORD);
  CaptureStderr();
  g = Read();
  std::string log = GetCapturedStderr();
  EXPECT_FALSE(g.ok);
  EXPECT_NE(log.find("Info:     ReadDEFiles: vrk_bsa_read() read 0 Bytes"), std::string::npos) << log;
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK) << log;
  EXPECT_FALSE(bReadBroken);
}

TEST_F(DEStreamTest, MissingFinalMarkerEndsAtTheRecordBoundary) {
  const std::string list = List("a");
  ASSERT_EQ(OpenBytes(Marker() + Record(0, 1, 0, 0, list, "xyz")), 0u);
  EXPECT_EQ(Read().size, DE_END_OF_RECORD);
  EXPECT_EQ(Read().data, "xyz");
  CaptureStderr();
  EXPECT_FALSE(Read().ok);
  std::string log = GetCapturedStderr();
  EXPECT_NE(log.find("read 0 Bytes"), std::string::npos) << log;
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK) << log;
}

TEST_F(DEStreamTest, DamagedObjectsAreErrors) {
  const std::string list = List("VOL1:/f");
  const std::string rec = Record(0, 1, 1, 2, list, "0123456789");
  struct Case {
    const char *name;
    std::string tail;
    const char *message;
  } cases[] = {
      {"header cut short", Header(0, 1, 10, 17).substr(0, 5), "short read 5 < 8!"},
      {"name block cut short", rec.substr(0, 8 + 12), "(indexFile resourceName) short read 12 < 17!"},
      {"data cut short", rec.substr(0, rec.size() - 1), "(indexFile) short read 9 < 10!"},
      {"name size below 10", Header(0, 1, 0, 9) + std::string(9, '\0'), "data-set name size 9 below 10"},
      {"name size 0", Header(0, 1, 4, 0) + "abcd", "data-set name size 0 below 10"},
      {"list size disagrees", Header(0, 1, 0, 17) + LE32(1) + LE32(2) + LE16(3) + "VOL1:/f",
       "name list size 3 does not match the name block of 17 bytes"},
      {"record beyond any buffer", Header(0, 1, 0x7FFFFFFFu, 17) + LE32(1) + LE32(2) + list,
       "record size 2147483647 exceeds the largest buffer"},
      {"record size just below the marker", Header(0, 1, 0xFFFFFFFEu, 17) + LE32(1) + LE32(2) + list,
       "record size 4294967294 exceeds the largest buffer of 67108864 bytes"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    spGlobal->sVRKObject.eOperStatus = STATUS_OK;
    ASSERT_EQ(OpenBytes(Marker() + rec + c.tail), 0u);
    EXPECT_EQ(Read().size, DE_END_OF_RECORD);
    EXPECT_EQ(Read().data, "0123456789");
    CaptureStderr();
    NWSM_DATA_SET_NAME_LIST *name = (NWSM_DATA_SET_NAME_LIST *)1;
    UINT32 size = 1;
    BUFFER *buf = ReadDEFiles(&size, nullptr, nullptr, session_, &name);
    std::string log = GetCapturedStderr();
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_NE(log.find(c.message), std::string::npos) << log;
    EXPECT_NE(log.find("Error:"), std::string::npos) << log;
    EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_ERR_BEF_SAV);
    EXPECT_TRUE(bErrRet);
    EXPECT_TRUE(bReadBroken);
    CloseDEFiles(session_);
  }
}

TEST_F(DEStreamTest, UngetEOFReturnsMarkerWithoutReading) {
  const std::string list = List("n");
  ASSERT_EQ(OpenBytes(Marker() + Record(0, 1, 0, 0, list, "A") + Record(0, 1, 0, 0, list, "B") + Marker() +
                      Record(0, 1, 0, 0, list, "C")),
            0u);
  EXPECT_EQ(Read().size, DE_END_OF_RECORD);
  EXPECT_EQ(Read().data, "A");
  // Skipping the rest of a data set up to its marker, then pushing it back.
  EXPECT_EQ(Read().data, "B");
  EXPECT_EQ(Read().size, DE_END_OF_RECORD);
  UngetEOF();
  off_t pos = lseek(spGlobal->sLocalSaveset.iFilDes, 0, SEEK_CUR);
  Got g = Read();
  EXPECT_TRUE(g.ok);
  EXPECT_EQ(g.size, DE_END_OF_RECORD);
  EXPECT_EQ(lseek(spGlobal->sLocalSaveset.iFilDes, 0, SEEK_CUR), pos);
  EXPECT_EQ(Read().data, "C");
}

TEST_F(DEStreamTest, RecordOfLargerBufferStillRestores) {
  const std::string list = List("big");
  const std::string data = Pattern(200000, 3);
  spGlobal->lBufferSize = 65536;
  ASSERT_EQ(OpenBytes(Marker() + Record(0, 1, 0, 0, list, data) + Record(0, 1, 0, 0, list, "small") + Marker()),
            0u);
  EXPECT_EQ(Read().size, DE_END_OF_RECORD);
  Got g = Read();
  EXPECT_EQ(g.size, 200000u);
  EXPECT_TRUE(g.data == data);
  EXPECT_EQ(Read().data, "small");
  EXPECT_EQ(Read().size, DE_END_OF_RECORD);
}

// Feeds bytes into fd in pieces with short pauses; closes it at the end unless told to stall.
void Feed(int fd, std::string bytes, size_t piece, bool bClose) {
  for (size_t off = 0; off < bytes.size(); off += piece) {
    size_t n = std::min(piece, bytes.size() - off);
    size_t done = 0;
    while (done < n) {
      ssize_t w = write(fd, bytes.data() + off + done, n - done);
      if (w <= 0) break;
      done += (size_t)w;
    }
    usleep(1000);
  }
  if (bClose) close(fd);
}

TEST_F(DEStreamTest, ReadsOverSlowPipeAndSocketPair) {
  const std::string list = List("VOL1:/p");
  const std::string data = Pattern(65536, 4);
  const std::string stream = Marker() + Record(0, 1, 0, 0, list, data) + Record(0, 1, 0, 0, list, "end") + Marker();
  for (int kind = 0; kind < 2; ++kind) {
    SCOPED_TRACE(kind == 0 ? "pipe" : "socketpair");
    int p[2];
    ASSERT_EQ(kind == 0 ? pipe(p) : socketpair(AF_UNIX, SOCK_STREAM, 0, p), 0);
    std::thread feeder(Feed, p[1], stream, 1000, true);
    ASSERT_EQ(OpenFd('r', p[0]), 0u);
    EXPECT_EQ(Read().size, DE_END_OF_RECORD);
    EXPECT_TRUE(Read().data == data);
    EXPECT_EQ(Read().data, "end");
    EXPECT_EQ(Read().size, DE_END_OF_RECORD);
    EXPECT_FALSE(Read().ok);
    feeder.join();
    EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK);
    CloseDEFiles(session_);
  }
}

TEST_F(DEStreamTest, StalledWriterIsAnErrorNotTheEnd) {
  const std::string list = List("VOL1:/s");
  const std::string stream = Marker() + Record(0, 1, 0, 0, list, Pattern(5000, 5));
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  // Half a record, then silence with the write end still open.
  Feed(p[1], stream.substr(0, stream.size() - 2000), 4096, false);
  spGlobal->iDataWait = 1;
  ASSERT_EQ(OpenFd('r', p[0]), 0u);
  EXPECT_EQ(Read().size, DE_END_OF_RECORD);
  CaptureStderr();
  EXPECT_FALSE(Read().ok);
  std::string log = GetCapturedStderr();
  close(p[1]);
  EXPECT_NE(log.find("timed out after [1] seconds"), std::string::npos) << log;
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_ERR_BEF_SAV) << log;
}

TEST_F(DEStreamTest, WritesOverSocketPair) {
  int p[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, p), 0);
  std::string got;
  std::thread reader([&] {
    char buf[8192];
    ssize_t n;
    while ((n = read(p[0], buf, sizeof buf)) > 0) {
      got.append(buf, (size_t)n);
      usleep(200);
    }
    close(p[0]);
  });
  const std::string list = List("x");
  const std::string data = Pattern(300000, 6);
  spGlobal->lBufferSize = 300000;
  ASSERT_EQ(OpenFd('w', p[1]), 0u);
  EXPECT_EQ(Write(data, list), 0u);
  EXPECT_EQ(WriteMarker(), 0u);
  CloseDEFiles(session_);  // closes the write end
  reader.join();
  EXPECT_TRUE(got == Marker() + Record(0, 1, 0, 0, list, data) + Marker());
}

TEST_F(DEStreamTest, WriteFailuresFailTheItem) {
  // Not open.
  CaptureStderr();
  EXPECT_EQ(WriteMarker(), 1u);
  std::string log = GetCapturedStderr();
  EXPECT_NE(log.find("WriteDEFiles: sessionInfo: 0 0"), std::string::npos) << log;

  // A saveset that takes no bytes: the first marker fails, and the stream is closed again.
  WriteFile(tmp_.file("ro"), "");
  int fd = open(tmp_.file("ro").c_str(), O_RDONLY);
  strlcpy(spGlobal->sVRKObject.szItem, "VOL1:/item", sizeof spGlobal->sVRKObject.szItem);
  spGlobal->bItemFinishedOK = TRUE;
  CaptureStderr();
  EXPECT_EQ(OpenFd('w', fd), 1u);
  log = GetCapturedStderr();
  EXPECT_NE(log.find("Item processed with failure: [VOL1:/item]"), std::string::npos) << log;
  EXPECT_NE(log.find("WriteDEFiles: returning 1"), std::string::npos) << log;
  EXPECT_NE(log.find("OpenDEFiles returning :1:"), std::string::npos) << log;
  EXPECT_EQ(spGlobal->bItemFinishedOK, FALSE);
  EXPECT_EQ(session_->dataFile, nullptr);
  EXPECT_EQ(spGlobal->lBSAHandle, 0);
  EXPECT_EQ(spGlobal->sLocalSaveset.iFilDes, -1);
}

TEST_F(DEStreamTest, RecordWithoutNameListIsRefused) {
  ASSERT_EQ(OpenFile('w', tmp_.file("set")), 0u);
  CaptureStderr();
  EXPECT_EQ(WriteDEFiles((BUFFER *)"ab", 2, 0, 0, 0, 1, session_, nullptr), 1u);
  std::string huge = LE16(0xFFF8) + std::string(0xFFF8, 'n');
  EXPECT_EQ(Write("ab", huge), 1u);
  GetCapturedStderr();
  CloseDEFiles(session_);
  // Only the first marker was written.
  EXPECT_EQ(ReadFile(tmp_.file("set")), Marker());
}

TEST_F(DEStreamTest, SaveSessionInfoOpensTheBackupStream) {
  int fd = open(tmp_.file("set").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  spGlobal->sLocalSaveset.iFilDes = fd;
  // The storage client's own trace reaches the log as trace lines.
  spGlobal->iLogLevel = 4;
  CaptureStderr();
  EXPECT_EQ(SaveSessionInfo(session_), 0);
  std::string log = GetCapturedStderr();
  EXPECT_NE(log.find("vrk-4000: Trace:    BSAInit"), std::string::npos) << log;
  EXPECT_NE(log.find("prepare timestamps"), std::string::npos) << log;
  CloseDEFiles(session_);
  EXPECT_EQ(ReadFile(tmp_.file("set")), Marker());

  spGlobal->iLogLevel = 1;
  WriteFile(tmp_.file("ro"), "");
  spGlobal->sLocalSaveset.iFilDes = open(tmp_.file("ro").c_str(), O_RDONLY);
  CaptureStderr();
  EXPECT_EQ(SaveSessionInfo(session_), 1);
  log = GetCapturedStderr();
  EXPECT_NE(log.find("Error:    SaveSessionInfo: returning 1"), std::string::npos) << log;
}

TEST_F(DEStreamTest, OpenTwiceMakesNothing) {
  ASSERT_EQ(OpenFile('w', tmp_.file("set")), 0u);
  CaptureStderr();
  EXPECT_EQ(OpenDEFiles('w', session_, 0), 1u);
  std::string log = GetCapturedStderr();
  EXPECT_NE(log.find("Warning:  OpenDEFiles will make nothing:: 1 1"), std::string::npos) << log;
  EXPECT_NE(session_->dataFile, nullptr);
}

TEST_F(DEStreamTest, ObjectOwnerCutAfter64Characters) {
  SetText(spGlobal->sSMS.cpPassword, std::string(70, 'p'));
  ASSERT_EQ(OpenFile('w', tmp_.file("set")), 0u);
  std::string owner = "USER=KORVA_SECURE_AUTHENTICATION:PASS=" + std::string(70, 'p');
  EXPECT_EQ(std::string(sBSAObjectOwner.bsa_ObjectOwner, 64), owner.substr(0, 64));
  EXPECT_EQ(sBSAObjectOwner.app_ObjectOwner[0], '\0');
  EXPECT_STREQ(sBSASecurityToken, "KORVA_SECURE_AUTHENTICATION");
}

TEST_F(DEStreamTest, OverLongObjectNameIsRefusedNotCut) {
  std::string name(1500, 'o');
  strlcpy(spGlobal->szDATAarg, name.c_str(), sizeof spGlobal->szDATAarg);
  CaptureStderr();
  EXPECT_EQ(OpenFile('w', tmp_.file("set")), 1u);
  std::string log = GetCapturedStderr();
  EXPECT_NE(log.find("object space name longer than 1023 bytes"), std::string::npos) << log;
  EXPECT_EQ(session_->dataFile, nullptr);
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_ERR_BEF_SAV);
  // No markers for a backup that did not start.
  EXPECT_NE(access(tmp_.file("job.I." + std::to_string((long)getpid())).c_str(), F_OK), 0);
}

// The storage-client road against the scripted storage node.
class DEStreamFtpTest : public DEStreamTest {
 protected:
  void UseNode(int port, const std::string &dir, const std::string &object) {
    SetText(spGlobal->sSMS.cpHost, "127.0.0.1");
    spGlobal->sSMS.iPort = port;
    SetText(spGlobal->sSMS.cpRemoteDir, dir);
    strlcpy(spGlobal->szDATAarg, object.c_str(), sizeof spGlobal->szDATAarg);
    spGlobal->sLocalSaveset.iFilDes = -1;
  }
  std::string StoreSample(std::string *expect) {
    const std::string list = List("VOL1:/dir/file");
    const std::string data = Pattern(65536 + 100, 7);
    *expect = Marker() + Record(0, 1, 3, 4, list, data.substr(0, 65536)) +
              Record(0, 1, 3, 4, list, data.substr(65536)) + Marker() + Record(1, 1, 5, 6, List("VOL1:/dir/"), "") +
              Marker();
    EXPECT_EQ(OpenDEFiles('w', session_, 0), 0u);
    EXPECT_EQ(Write(data.substr(0, 65536), list, 0, 1, 3, 4), 0u);
    EXPECT_EQ(Write(data.substr(65536), list, 0, 1, 3, 4), 0u);
    EXPECT_EQ(WriteMarker(), 0u);
    EXPECT_EQ(Write("", List("VOL1:/dir/"), 1, 1, 5, 6), 0u);
    EXPECT_EQ(WriteMarker(), 0u);
    CaptureStderr();
    CloseDEFiles(session_);
    return GetCapturedStderr();
  }
  void ReadSample() {
    ASSERT_EQ(OpenDEFiles('r', session_, 0), 0u);
    EXPECT_EQ(Read().size, DE_END_OF_RECORD);
    EXPECT_EQ(Read().size, 65536u);
    EXPECT_EQ(Read().size, 100u);
    EXPECT_EQ(Read().size, DE_END_OF_RECORD);
    Got g = Read();
    EXPECT_TRUE(g.ok);
    EXPECT_EQ(g.size, 0u);
    EXPECT_EQ(g.parent, 1);
    EXPECT_EQ(Read().size, DE_END_OF_RECORD);
    EXPECT_FALSE(Read().ok);
    CaptureStderr();
    CloseDEFiles(session_);
    GetCapturedStderr();
  }
};

TEST_F(DEStreamFtpTest, StoresAndReadsBackThroughStorageNode) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0) << peer.output();
  UseNode(peer.port(), ".", "backup-obj");
  std::string expect;
  std::string log = StoreSample(&expect);
  EXPECT_NE(log.find("Closing saveset."), std::string::npos) << log;
  EXPECT_TRUE(ReadFile(peer.root() + "/backup-obj") == expect);
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK) << log;
  ReadSample();
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK);
  std::string cmds = peer.commands();
  EXPECT_NE(cmds.find("STOR backup-obj\n"), std::string::npos) << cmds;
  EXPECT_NE(cmds.find("RETR backup-obj\n"), std::string::npos) << cmds;
}

TEST_F(DEStreamFtpTest, ServerSignalAtEndIsReported) {
  FtpPeer peer(R"({"final": ["520 media pool full"]})");
  ASSERT_GT(peer.port(), 0) << peer.output();
  UseNode(peer.port(), ".", "obj520");
  std::string expect;
  std::string log = StoreSample(&expect);
  EXPECT_NE(log.find("KORVA server signal received: [520 media pool full"), std::string::npos) << log;
  EXPECT_NE(log.find("Error: Closing XBSA"), std::string::npos) << log;
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_ERR_BEF_SAV);
}

TEST_F(DEStreamFtpTest, OtherEndFailureIsReported) {
  FtpPeer peer(R"({"final": ["451 local error"]})");
  ASSERT_GT(peer.port(), 0) << peer.output();
  UseNode(peer.port(), ".", "obj451");
  std::string expect;
  std::string log = StoreSample(&expect);
  EXPECT_NE(log.find("XBSA Call BSAEndData (closing saveset) failed: "), std::string::npos) << log;
  EXPECT_EQ(log.find("KORVA server signal"), std::string::npos) << log;
}

TEST_F(DEStreamFtpTest, MissingObjectCannotBeOpened) {
  FtpPeer peer(R"({"replies": {"RETR": ["550 no such object"]}})");
  ASSERT_GT(peer.port(), 0) << peer.output();
  UseNode(peer.port(), ".", "never-stored");
  CaptureStderr();
  EXPECT_EQ(OpenDEFiles('r', session_, 0), 1u);
  std::string log = GetCapturedStderr();
  EXPECT_NE(log.find("OpenDEFiles: BSAGetObject call failed !"), std::string::npos) << log;
  EXPECT_NE(log.find("OpenDEFiles returning :1:"), std::string::npos) << log;
  EXPECT_EQ(session_->dataFile, nullptr);
  EXPECT_EQ(spGlobal->lBSAHandle, 0);
}

TEST_F(DEStreamFtpTest, RefusedCreateLeavesNoMarkers) {
  FtpPeer peer(R"({"replies": {"STOR": ["553 not allowed"]}})");
  ASSERT_GT(peer.port(), 0) << peer.output();
  UseNode(peer.port(), ".", "refused");
  CaptureStderr();
  EXPECT_EQ(OpenDEFiles('w', session_, 0), 1u);
  std::string log = GetCapturedStderr();
  EXPECT_NE(log.find("Opening saveset: dummy"), std::string::npos) << log;
  EXPECT_NE(log.find("XBSA Call BSACreateObject failed with message: "), std::string::npos) << log;
  EXPECT_NE(log.find("OpenDEFiles: BSACreateObject call failed: "), std::string::npos) << log;
  EXPECT_NE(access(tmp_.file("job.I." + std::to_string((long)getpid())).c_str(), F_OK), 0);
  EXPECT_EQ(session_->dataFile, nullptr);
}

TEST_F(DEStreamFtpTest, InterruptDuringTransferFailsTheJob) {
  FtpPeer peer;
  ASSERT_GT(peer.port(), 0) << peer.output();
  UseNode(peer.port(), ".", "interrupted");
  struct sigaction sa, old;
  memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = vrk_sigaction_handler;
  sa.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(sigaction(SIGINT, &sa, &old), 0);
  spGlobal->sVRKObject.iVrkPid = getpid();
  const std::string list = List("VOL1:/big");
  const std::string block = Pattern(65536, 9);
  ASSERT_EQ(OpenDEFiles('w', session_, 0), 0u);
  EXPECT_EQ(Write(block, list), 0u);
  CaptureStderr();
  raise(SIGINT);
  CCODE rc = Write(block, list);
  CloseDEFiles(session_);
  std::string log = GetCapturedStderr();
  sigaction(SIGINT, &old, nullptr);
  EXPECT_EQ(rc, 1u);
  EXPECT_EQ(spGlobal->sVRKObject.iSigRecv, 1);
  EXPECT_NE(log.find("Termination signal received!"), std::string::npos) << log;
  EXPECT_NE(log.find("XBSA Call failed with message: "), std::string::npos) << log;
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_ERR_BEF_SAV);
  EXPECT_EQ(spGlobal->lBSAHandle, 0);
}

TEST_F(DEStreamFtpTest, StoresAndReadsBackOverHttp) {
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "https" : "http");
    if (tls && !TestCertificate::Get().ok()) continue;
    HttpPeer peer("{}", tls);
    ASSERT_GT(peer.port(), 0) << peer.output();
    UseNode(peer.port(), "backups/host1", "4711");
    SetText(spGlobal->sSMS.cpHost, peer.url());
    std::string expect;
    std::string log = StoreSample(&expect);
    // The empty data part of the last data set did not end the upload early.
    EXPECT_TRUE(ReadFile(peer.root() + "/backups/host1/4711") == expect) << log << peer.log();
    EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK) << log;
    ReadSample();
    EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK);
  }
}

TEST_F(DEStreamFtpTest, VsftpdStoresAndReadsBack) {
  if (!VsftpdPeer::Available()) GTEST_SKIP() << "vsftpd needs /usr/sbin/vsftpd, root and the ftp user";
  VsftpdPeer node;
  ASSERT_TRUE(node.ready()) << node.log();
  UseNode(node.port(), "incoming", "de-object");
  std::string expect;
  std::string log = StoreSample(&expect);
  EXPECT_TRUE(ReadFile(node.incoming() + "/de-object") == expect) << log << node.log();
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK) << log;
  ReadSample();
  EXPECT_EQ(spGlobal->sVRKObject.eOperStatus, STATUS_OK);
}

// The interactive road: local index and data files and the session file.
class DEInteractiveTest : public DEStreamTest {
 protected:
  void SetUp() override {
    DEStreamTest::SetUp();
    ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
    ASSERT_EQ(chdir(tmp_.path().c_str()), 0);
    vrk_nlm_interactive = 1;
  }
  void TearDown() override {
    if (chdir(cwd_) != 0) {
    }
    DEStreamTest::TearDown();
  }
  char cwd_[4096];
};

TEST_F(DEInteractiveTest, SessionFileAndLocalIndexAndDataFiles) {
  session_->sessionNo = 2;
  strlcpy(session_->sName, "Nightly", sizeof session_->sName);
  ASSERT_EQ(SaveSessionInfo(session_), 0);
  const std::string list = List("VOL1:/a");
  EXPECT_EQ(Write("payload", list, 0, 1, 9, 9), 0u);
  EXPECT_EQ(WriteMarker(), 0u);
  CloseDEFiles(session_);
  EXPECT_EQ(ReadFile(tmp_.file("De-2.idx")), Marker() + Header(0, 1, 7, (uint16_t)(list.size() + 8)) + list + Marker());
  EXPECT_EQ(ReadFile(tmp_.file("De-2.dat")), "payload");
  std::string sessions = ReadFile(tmp_.file(DE_SESSION_FILE));
  ASSERT_EQ(sessions.size(), 75u);
  EXPECT_EQ(sessions.substr(50), std::string("Nightly") + std::string(18, '\0'));

  session_->sessionNo = 0;
  strlcpy(session_->sName, "First", sizeof session_->sName);
  ASSERT_EQ(SaveSessionInfo(session_), 0);
  CloseDEFiles(session_);
  sessions = ReadFile(tmp_.file(DE_SESSION_FILE));
  EXPECT_EQ(sessions.substr(0, 5), "First");
  EXPECT_EQ(sessions.substr(50, 7), "Nightly");
}

TEST_F(DEInteractiveTest, ALinkAtTheSessionFileNameIsNotFollowed) {
  WriteFile(tmp_.file("victim"), "kept");
  ASSERT_EQ(symlink(tmp_.file("victim").c_str(), tmp_.file(DE_SESSION_FILE).c_str()), 0);
  session_->sessionNo = 0;
  strlcpy(session_->sName, "Nightly", sizeof session_->sName);
  CaptureStderr();
  EXPECT_EQ(SaveSessionInfo(session_), 1);
  std::string err = GetCapturedStderr();
  EXPECT_NE(err.find("Session File Open Error"), std::string::npos) << err;
  EXPECT_NE(err.find(std::string("Session file [") + DE_SESSION_FILE + "] not opened"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(tmp_.file("victim")), "kept");
}

// Runs ObtainSessionInfo with the given standard input.
int Obtain(const std::string &input, int *choice, std::string *out, const TempDir &dir) {
  WriteFile(dir.file("stdin"), input);
  int saved = dup(0);
  int fd = open(dir.file("stdin").c_str(), O_RDONLY);
  dup2(fd, 0);
  close(fd);
  clearerr(stdin);
  CaptureStdout();
  int rc = ObtainSessionInfo(choice);
  *out = testing::internal::GetCapturedStdout();
  dup2(saved, 0);
  close(saved);
  clearerr(stdin);
  return rc;
}

TEST_F(DEInteractiveTest, ObtainSessionInfoAsksForAListedSession) {
  WriteFile(tmp_.file(DE_SESSION_FILE), std::string("Mon") + std::string(22, '\0') + "Tue" + std::string(22, '\0'));
  int choice = 99;
  std::string out;
  EXPECT_EQ(Obtain("7\nx\n2\n", &choice, &out, tmp_), 0);
  EXPECT_EQ(choice, 1);
  EXPECT_NE(out.find("List of Available Sessions :\n1. Mon\n2. Tue\n"), std::string::npos) << out;
  EXPECT_EQ(Obtain("q\n", &choice, &out, tmp_), 1);
  EXPECT_EQ(choice, -1);
  // The end of the input quits as 'q' does.
  choice = 5;
  EXPECT_EQ(Obtain("", &choice, &out, tmp_), 1);
  EXPECT_EQ(choice, -1);

  unlink(tmp_.file(DE_SESSION_FILE).c_str());
  CaptureStderr();
  EXPECT_EQ(Obtain("1\n", &choice, &out, tmp_), 1);
  EXPECT_NE(GetCapturedStderr().find("Session File Open Error"), std::string::npos);

  // A link to a device and a FIFO nobody writes at the name: refused at
  // once, neither an endless list nor a wait for a writer.
  for (bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "FIFO" : "link to /dev/zero");
    unlink(tmp_.file(DE_SESSION_FILE).c_str());
    if (fifo) {
      ASSERT_EQ(mkfifo(tmp_.file(DE_SESSION_FILE).c_str(), 0600), 0);
    } else {
      ASSERT_EQ(symlink("/dev/zero", tmp_.file(DE_SESSION_FILE).c_str()), 0);
    }
    CaptureStderr();
    EXPECT_EQ(Obtain("1\n", &choice, &out, tmp_), 1);
    std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("Session File Open Error"), std::string::npos) << err;
    EXPECT_NE(err.find(std::string("Session file [") + DE_SESSION_FILE + "] not opened"), std::string::npos) << err;
    EXPECT_EQ(out.find("1. "), std::string::npos) << out.substr(0, 200);
  }
  unlink(tmp_.file(DE_SESSION_FILE).c_str());

  vrk_nlm_interactive = 0;
  EXPECT_EQ(ObtainSessionInfo(&choice), 0);
  EXPECT_EQ(choice, 0);
}

TEST_F(DEInteractiveTest, LogSessionInfoTogglesTheLogFile) {
  session_->sessionNo = 4;
  NWBOOLEAN toLog = 0;
  LogSessionInfo(&toLog, session_);
  EXPECT_EQ(toLog, 1);
  ASSERT_NE(session_->logFile, nullptr);
  fputs("line\n", session_->logFile);
  LogSessionInfo(&toLog, session_);
  EXPECT_EQ(toLog, 0);
  EXPECT_EQ(session_->logFile, nullptr);
  EXPECT_EQ(ReadFile(tmp_.file("De-4.log")), "line\n");
}

}  // namespace
