// Tests of the database-module loader with real test modules: each module
// type through DBOperation, missing entry points, forwarders and callbacks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "vrk_db_test_util.h"

using testing::HasSubstr;
using testing::Not;

namespace vrktest {
namespace {

class DbLoaderTest : public DbTest {};

struct TypeCase {
  const char *module;
  E_OPERATION op;
  BOOL vmdk;
  int rc;
  const char *item;    // szItem after the run, NULL = not checked
  const char *dbitem;  // szDBItem after the run
  const char *logged;  // a text of the log
  int method;          // 0 none, 1 stream, 2 file, 3 file-prepare
};

TEST_F(DbLoaderTest, EachModuleTypeThroughBackupAndRestore) {
  const TypeCase cases[] = {
      {"vrkdb_stream", BACKUP, 0, -1, nullptr, nullptr, "DB Module: [Unsupported DB module type]", 1},
      {"vrkdb_stream", RESTORE, 0, 0, nullptr, nullptr, "DATABASE SUPPORT: TESTDB", 1},
      {"vrkdb_file", BACKUP, 0, 0, "/backup/dir/names.nsf", "/orig/dir/names.nsf", "", 2},
      {"vrkdb_file", RESTORE, 0, 0, nullptr, nullptr, "VERSION: 1.2, Released: 2026-01-02", 2},
      {"vrkdb_prepare", BACKUP, 0, 0, "/work/prepared/names.nsf", "names.nsf", "", 3},
      {"vrkdb_prepare", RESTORE, 0, 0, nullptr, nullptr, "", 3},
      {"vrkdb_filestream", BACKUP, 0, -1, nullptr, nullptr, "Unsupported DB module type", 0},
      {"vrkdb_filestream", BACKUP, 1, 0, "/backup/dir/names.nsf", "/orig/dir/names.nsf", "", 0},
      {"vrkdb_filestream", RESTORE, 0, 0, nullptr, nullptr, "", 0},
  };
  for (const TypeCase &c : cases) {
    SCOPED_TRACE(std::string(c.module) + (c.op == BACKUP ? " backup" : " restore") +
                 (c.vmdk ? " vmdk" : ""));
    FreshGlobal();
    unlink(record_.c_str());
    UseModule(c.module);
    spGlobal->eOPERATION = c.op;
    spGlobal->eBackupType = INCREMENTAL;
    spGlobal->bDB_VMDKoperation = c.vmdk;
    DbRun r = Run();
    EXPECT_EQ(c.rc, r.rc) << r.log;
    EXPECT_THAT(r.log, HasSubstr(c.logged));
    EXPECT_EQ(c.method == 1, spGlobal->bDB_StrmMethod != 0);
    EXPECT_EQ(c.method == 2, spGlobal->bDB_FileMethod != 0);
    EXPECT_EQ(c.method == 3, spGlobal->bDB_FilePrepareMethod != 0);
    EXPECT_EQ(FULL, spGlobal->eBackupType);
    std::vector<std::string> init = Record("InitOperation");
    ASSERT_EQ(1u, init.size());
    EXPECT_EQ(std::string("InitOperation type=") + (c.op == BACKUP ? "1" : "2") + " level=3",
              init[0]);
    EXPECT_EQ(1u, Record("SetLog").size());
    if (c.item != nullptr) {
      EXPECT_STREQ(c.item, spGlobal->sVRKObject.szItem);
      EXPECT_STREQ(c.dbitem, spGlobal->sVRKObject.szDBItem);
    }
    if (c.op == RESTORE) {
      EXPECT_TRUE(Record("GetItem").empty());
    }
  }
}

TEST_F(DbLoaderTest, AFileModuleFillsTheOriginPathAndAPrepareModuleGetsTheFileName) {
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = BACKUP;
  setenv("VRKDB_ORIG", "/db/orig", 1);
  ASSERT_EQ(0, Run().rc);
  EXPECT_STREQ("/db/orig", spGlobal->szDB_OrigPath);
  EXPECT_EQ(std::vector<std::string>{"GetItem path=[] orig=[] file=[]"}, Record("GetItem"));

  FreshGlobal();
  unlink(record_.c_str());
  UseModule("vrkdb_prepare");
  spGlobal->eOPERATION = BACKUP;
  setenv("VRKDB_FILE", "mail/x.nsf", 1);
  ASSERT_EQ(0, Run().rc);
  EXPECT_EQ(std::vector<std::string>{"PrepareItem item=[mail/x.nsf]"}, Record("PrepareItem"));
  EXPECT_STREQ("mail/x.nsf", spGlobal->sVRKObject.szDBItem);
}

TEST_F(DbLoaderTest, MissingEntryPointsAndModulesFailWith1143AndLeaveNoEntryPoint) {
  struct Case {
    const char *module;
    const char *logged;
  } cases[] = {
      {"vrkdb_noprepare", "dlsym(STREAM) returned: "},
      {"vrkdb_nogeterror", "dlsym() returned: "},
      {"vrkdb_no_such_module", "dlopen() returned: "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.module);
    FreshGlobal();
    // A module loaded before must not leave its entry points behind.
    testing::internal::CaptureStderr();
    std::string loaded = DbModule("vrkdb_prepare");
    ASSERT_EQ(TRUE, LoadDBModule(&loaded[0]));
    testing::internal::GetCapturedStderr();
    ASSERT_NE(nullptr, g_fpDB_PrepareItem);

    UseModule(c.module);
    spGlobal->eOPERATION = BACKUP;
    DbRun r = Run();
    EXPECT_EQ(-1, r.rc);
    EXPECT_THAT(r.log, HasSubstr("vrk-1143: Error:    Problem while loading dynamic link "
                                 "library: [" +
                                 std::string(c.logged)));
    EXPECT_THAT(r.log, HasSubstr("LoadDBModule ( " + DbModule(c.module) + " ) failed"));
    EXPECT_EQ(nullptr, g_fpDB_GetInfo);
    EXPECT_EQ(nullptr, g_fpDB_InitOperation);
    EXPECT_EQ(nullptr, g_fpDB_GetItem);
    EXPECT_EQ(nullptr, g_fpDB_PrepareItem);
    EXPECT_EQ(nullptr, DB_LoadedInfo()->cpDBClient);
    EXPECT_TRUE(Record("InitOperation").empty());
  }
}

TEST_F(DbLoaderTest, AModuleWithoutDirectoryIsTriedAgainUnderTheAbsoluteProgramDirectory) {
  char real[PATH_MAX];
  ASSERT_NE(nullptr, realpath(DbModuleDir().c_str(), real));
  free(spGlobal->sDirs.cpBin);
  spGlobal->sDirs.cpBin = Dup(".");
  snprintf(spGlobal->szDB_Module, sizeof(spGlobal->szDB_Module), "vrkdb_file.so");
  char *cwd = getcwd(nullptr, 0);
  ASSERT_EQ(0, chdir(real));
  spGlobal->eOPERATION = RESTORE;
  DbRun r = Run();
  ASSERT_EQ(0, chdir(cwd));
  free(cwd);
  EXPECT_EQ(0, r.rc) << r.log;
  EXPECT_THAT(r.log, HasSubstr("Library not found. Try to load from Korva bin directory [" +
                               std::string(real) + "/./vrkdb_file.so]"));
  EXPECT_EQ(1u, Record("InitOperation").size());
}

TEST_F(DbLoaderTest, AnUnknownModuleTypeIsRefused) {
  setenv("VRKDB_REPORTED_TYPE", "7", 1);
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = RESTORE;
  DbRun r = Run();
  EXPECT_EQ(-1, r.rc);
  EXPECT_THAT(r.log, HasSubstr("DB_GetInfo() returned: unknown module type 7"));
  EXPECT_EQ(nullptr, g_fpDB_InitOperation);
}

TEST_F(DbLoaderTest, ForwardersOfUnresolvedEntriesAnswerAnErrorWithoutACall) {
  // A file module loaded first: its item entry points must not survive.
  std::string first = DbModule("vrkdb_prepare");
  testing::internal::CaptureStderr();
  ASSERT_EQ(TRUE, LoadDBModule(&first[0]));
  testing::internal::GetCapturedStderr();
  ASSERT_NE(nullptr, g_fpDB_GetItem);
  UseModule("vrkdb_stream");
  spGlobal->eOPERATION = RESTORE;
  ASSERT_EQ(0, Run().rc);

  char block[16] = "";
  unsigned int len = sizeof(block);
  setenv("VRKDB_BLOCK", "stream-data", 1);
  EXPECT_EQ(DB_NUM_I_ITEM, DB_ReadBlock(block, &len));
  EXPECT_EQ("stream-data", std::string(block, len));
  EXPECT_EQ(DB_NUM_I_ITEM, DB_WriteBlock(block, 6));
  EXPECT_EQ(std::vector<std::string>{"WriteBlock stream"}, Record("WriteBlock"));

  char a[DB_ITEM_BUFSIZE] = "", b[DB_ITEM_BUFSIZE] = "", c[DB_ITEM_BUFSIZE] = "";
  testing::internal::CaptureStderr();
  EXPECT_EQ(DB_NUM_E_OPERATION, DB_GetItem(a, b, c));
  EXPECT_EQ(DB_NUM_E_OPERATION, DB_PrepareItem("x", a));
  EXPECT_EQ(DB_NUM_E_OPERATION, DB_SetItem(DB_ITEM_TYPE_FILE, a));
  EXPECT_EQ(DB_NUM_E_OPERATION, DB_ItemFinishStatus(DB_ITEM_SUCCESS));
  EXPECT_EQ(DB_NUM_E_OPERATION, DB_OpenItem(a, b));
  EXPECT_EQ(DB_NUM_E_OPERATION, DB_CloseItem(a, b, 0));
  EXPECT_EQ(DB_NUM_E_OPERATION, DB_DirItem(nullptr));
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_THAT(log, HasSubstr("DB Module: [Entry point DB_GetItem is not loaded]"));
  EXPECT_THAT(log, HasSubstr("DB Module: [Entry point DB_DirItem is not loaded]"));
  EXPECT_TRUE(Record("GetItem").empty());
}

TEST_F(DbLoaderTest, ModuleTextsReachTheLogAsTextsAndNullIsEmpty) {
  const std::string text = "100%s%n%x done";
  setenv("VRKDB_LOG", text.c_str(), 1);
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = RESTORE;
  spGlobal->iLogLevel = 4;
  DbRun r = Run();
  ASSERT_EQ(0, r.rc) << r.log;
  EXPECT_THAT(r.log, HasSubstr("vrk-3103: Info:     DB Module: [" + text + "]\n"));
  EXPECT_THAT(r.log, HasSubstr("vrk-3500: Info:     " + text + "\n"));
  EXPECT_THAT(r.log, HasSubstr("vrk-3103: Info:     DB Module: []\n"));
  EXPECT_EQ(1u, Record("SetTrace").size());

  // The trace callback is handed over only above log level 2.
  FreshGlobal();
  unlink(record_.c_str());
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = RESTORE;
  spGlobal->iLogLevel = 2;
  r = Run();
  ASSERT_EQ(0, r.rc);
  EXPECT_TRUE(Record("SetTrace").empty());
  EXPECT_THAT(r.log, Not(HasSubstr("vrk-3500: Info:     " + text + "\n")));
}

TEST_F(DbLoaderTest, NullInfoTextsAreEmpty) {
  setenv("VRKDB_NULL_INFO", "1", 1);
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = RESTORE;
  DbRun r = Run();
  ASSERT_EQ(0, r.rc);
  EXPECT_THAT(r.log, HasSubstr("# DATABASE SUPPORT: , VERSION: , Released:  #"));
}

TEST_F(DbLoaderTest, CloseHandsAnEmptyListAndReportsAModuleFailure) {
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = RESTORE;
  ASSERT_EQ(0, Run().rc);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TRUE, DB_Close());
  setenv("VRKDB_CLOSE", "1000", 1);
  setenv("VRKDB_ERRMSG", "close went wrong", 1);
  EXPECT_EQ(FALSE, DB_Close());
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_THAT(log, HasSubstr("vrk-1146: Error:    DB Module: [close went wrong]"));
  EXPECT_EQ(2u, Record("CloseOperation vars=empty").size());
}

}  // namespace
}  // namespace vrktest
