// Tests of the database module's operation set-up and first item: the control
// variables and parameter record it receives, and the module's results.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

#include "vrk_db_test_util.h"

using testing::HasSubstr;
using testing::Not;

namespace vrktest {
namespace {

class DbInitTest : public DbTest {
 protected:
  std::vector<std::string> Vars() const {
    std::vector<std::string> out;
    for (const std::string &line : Record("var ")) out.push_back(line.substr(4));
    return out;
  }
  void SetItems(const std::vector<const char *> &items) {
    for (size_t i = 0; i < items.size(); ++i) spGlobal->sVRKObject.cpItem[i] = Dup(items[i]);
  }
  void SetDirs() {
    free(spGlobal->sDirs.cpIni);
    free(spGlobal->sDirs.cpTmp);
    free(spGlobal->sDirs.cpWork);
    spGlobal->sDirs.cpIni = Dup("/k/ini");
    spGlobal->sDirs.cpTmp = Dup("/k/tmp");
    spGlobal->sDirs.cpWork = Dup("/k/work");
  }
};

TEST_F(DbInitTest, RestoreControlVariablesInTheirOrder) {
  UseModule("vrkdb_file");
  _sVRKGlobal *g = spGlobal;
  g->eOPERATION = RESTORE;
  g->eBackupType = DIFFERENTIAL;
  g->iLogLevel = 1;
  g->eHdrFmt = HDR_RAW;
  snprintf(g->szDB_User, sizeof(g->szDB_User), "dbuser");
  snprintf(g->szDB_Pass, sizeof(g->szDB_Pass), "secret");
  snprintf(g->szDB_UndoFile, sizeof(g->szDB_UndoFile), "/undo/file");
  snprintf(g->szDB_Notesini, sizeof(g->szDB_Notesini), "/n/notes.ini");
  snprintf(g->sLocalSaveset.szName, sizeof(g->sLocalSaveset.szName), "/local/set");
  g->bDB_Recovery = TRUE;
  g->bRecoveryDuplicate = TRUE;
  g->bDB_Activate = TRUE;
  g->tBackupFrom = 1700000000;
  free(g->sSMS.cpSaveset);
  g->sSMS.cpSaveset = nullptr;  // no storage saveset: the local one is named
  char cl[] = "vrk -r -o x";
  g->cpVRK_CL = cl;
  SetDirs();
  SetItems({"VRKLN:all", "mail/db1.nsf", "", "not-reached"});

  char stamp[32];
  struct tm tmLocal;
  time_t t = 1700000000;
  localtime_r(&t, &tmLocal);
  strftime(stamp, sizeof(stamp), "%Y%m%d%H%M%S", &tmLocal);

  DbRun r = Run();
  g->cpVRK_CL = nullptr;
  ASSERT_EQ(0, r.rc) << r.log;
  const std::vector<std::string> expected = {
      "DB_USER=dbuser",     "DB_PWD=secret",        "VERBOSE=1",
      "RAW_FORMAT=YES",     "DATABASE=ALL",         "DATABASE=mail/db1.nsf",
      "INI_DIR=/k/ini",     "TMP_DIR=/k/tmp",       "WORK_DIR=/k/work",
      std::string("SNC_TIME=") + stamp,             "SAVESET=/local/set",
      "RECOVERY=AFTER",     "STANDBY=/undo/file",   "REPLACE=NO",
      "DUPLICATE=YES",      "MERGE=NO",             "NEWDBIID=NO",
      "ACTIVATE=YES",       "NOTESINI=/n/notes.ini", "INFO=vrk -r -o x"};
  EXPECT_EQ(expected, Vars());
  EXPECT_EQ(std::vector<std::string>{"InitOperation type=2 level=2"}, Record("InitOperation"));
}

TEST_F(DbInitTest, BackupControlVariablesAndParameterRecord) {
  UseModule("vrkdb_file");
  _sVRKGlobal *g = spGlobal;
  g->eOPERATION = BACKUP;
  g->eBackupType = SINCE;
  g->iLogLevel = 0;
  g->bDB_VMDKoperation = TRUE;
  g->bDB_ConfigOnly = TRUE;
  g->bDB_Recovery = TRUE;  // a restore flag: no RECOVERY entry for a backup
  g->cpServer = Dup("esx1");
  g->sVRKObject.cpAdditionalFindArg = Dup("-a arg");
  snprintf(g->szTargetArg[0], sizeof(g->szTargetArg[0]), "/a==::==/b");
  free(g->sSMS.cpSaveset);
  g->sSMS.cpSaveset = Dup("SET1");
  free(g->sSMS.cpInter);
  g->sSMS.cpInter = Dup("sidf");
  SetDirs();
  SetItems({"vm1"});

  DbRun r = Run();
  ASSERT_EQ(0, r.rc) << r.log;
  const std::vector<std::string> expected = {
      "VERBOSE=0",       "RAW_FORMAT=NO",   "CONFIG_ONLY=YES", "DATABASE=vm1",  "INI_DIR=/k/ini",
      "TMP_DIR=/k/tmp",  "WORK_DIR=/k/work", "SAVESET=SET1",   "INFO="};
  EXPECT_EQ(expected, Vars());
  EXPECT_EQ(std::vector<std::string>{"InitOperation type=1 level=0"}, Record("InitOperation"));
  EXPECT_EQ(std::vector<std::string>{"param loglevel=0 user= pass= saveset=SET1 server=esx1 "
                                     "tmp=/k/tmp work=/k/work target=/a==::==/b interp=sidf "
                                     "addarg=-a arg dict=0 reloc=0"},
            Record("param"));
  EXPECT_EQ(nullptr, g->cpServer);
}

TEST_F(DbInitTest, RecoveryWordsAndLevels) {
  struct Case {
    BOOL recovery;
    const char *local;
    _eBackupType level;
    const char *word;
    int dblevel;
  } cases[] = {
      {TRUE, "", FULL, "RECOVERY=YES", 1},
      {FALSE, "/local/set", INCREMENTAL, "RECOVERY=NO", 3},
      {TRUE, "/local/set", COPY, "RECOVERY=AFTER", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.word);
    FreshGlobal();
    unlink(record_.c_str());
    UseModule("vrkdb_file");
    spGlobal->eOPERATION = RESTORE;
    spGlobal->eBackupType = c.level;
    spGlobal->bDB_Recovery = c.recovery;
    snprintf(spGlobal->sLocalSaveset.szName, sizeof(spGlobal->sLocalSaveset.szName), "%s",
             c.local);
    ASSERT_EQ(0, Run().rc);
    std::vector<std::string> vars = Vars();
    EXPECT_NE(vars.end(), std::find(vars.begin(), vars.end(), std::string(c.word)));
    EXPECT_EQ("InitOperation type=2 level=" + std::to_string(c.dblevel), Record("InitOperation")[0]);
  }
}

TEST_F(DbInitTest, AnOverLongDatabaseNameIsRefusedNotCut) {
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = BACKUP;
  std::string longName(512, 'd');
  SetItems({"ok", longName.c_str()});
  DbRun r = Run();
  EXPECT_EQ(-1, r.rc);
  EXPECT_THAT(r.log, HasSubstr("database name is longer than 511 characters"));
  EXPECT_TRUE(Record("InitOperation").empty());

  // 511 characters still fit.
  FreshGlobal();
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = RESTORE;
  std::string fits(511, 'd');
  SetItems({fits.c_str()});
  ASSERT_EQ(0, Run().rc);
  EXPECT_EQ(1u, Record("var DATABASE=" + fits).size());
}

TEST_F(DbInitTest, NothingToDoEndsTheOperation) {
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = BACKUP;
  spGlobal->eBackupType = INCREMENTAL;
  spGlobal->iVRKReturnCode = 5;
  setenv("VRKDB_INIT", "3001", 1);
  DbRun r = Run();
  EXPECT_EQ(-1, r.rc) << r.log;
  EXPECT_EQ(0, spGlobal->iVRKReturnCode);
  // The operation was not prepared: the level stays and no item is fetched.
  EXPECT_EQ(INCREMENTAL, spGlobal->eBackupType);
  EXPECT_TRUE(Record("GetItem").empty());
}

TEST_F(DbInitTest, AFailingOperationLogsTheModulesMessage) {
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = BACKUP;
  spGlobal->iLogLevel = 4;
  setenv("VRKDB_INIT", "1000", 1);
  setenv("VRKDB_ERRMSG", "no %s database %n", 1);
  DbRun r = Run();
  EXPECT_EQ(-1, r.rc);
  EXPECT_THAT(r.log, HasSubstr("DB_Init: DB_InitOperation() failed. System error code: [42], "
                               "Severity: [SEVERE]"));
  EXPECT_THAT(r.log, HasSubstr("vrk-1146: Error:    DB Module: [no %s database %n]"));
  EXPECT_TRUE(Record("GetItem").empty());

  // An error text that the module does not terminate is cut at its buffer.
  FreshGlobal();
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = BACKUP;
  setenv("VRKDB_ERR_UNTERMINATED", "1", 1);
  r = Run();
  EXPECT_EQ(-1, r.rc);
  EXPECT_THAT(r.log, HasSubstr("DB Module: [" + std::string(DB_ERROR_MSG_SIZE - 1, 'e') + "]"));
}

TEST_F(DbInitTest, AnOperationOtherThanBackupRestoreOrListingIsRefused) {
  UseModule("vrkdb_file");
  spGlobal->eOPERATION = PUT;
  DbRun r = Run();
  EXPECT_EQ(-1, r.rc);
  EXPECT_THAT(r.log, HasSubstr("not supported by database modules"));
  EXPECT_TRUE(Record("InitOperation").empty());
}

struct ItemCase {
  const char *module;
  const char *item;     // VRKDB_ITEM
  const char *prepare;  // VRKDB_PREPARE
  int rc;
  uint64_t notsaved;
  const char *logged;
  _eOperStatus status;
};

TEST_F(DbInitTest, FirstItemResults) {
  const ItemCase cases[] = {
      {"vrkdb_file", "3001", "", 0, 0, "Backup: No more files for DATABASE backup.", STATUS_OK},
      {"vrkdb_file", "2000", "", 0, 0,
       "vrk-2076: Warning:  Item [/backup/dir/names.nsf] is not logged.", STATUS_WARNING},
      {"vrkdb_file", "1001", "", 0, 1,
       "vrk-2012: Warning:  Unable to open item [/backup/dir/names.nsf]: [module error].",
       STATUS_WARNING},
      {"vrkdb_file", "1000", "", -1, 0, "vrk-1146: Error:    DB Module: [module error]",
       STATUS_ERR_BEF_SAV},
      {"vrkdb_file", "77", "", -1, 0, "DB Module: [Unexpected result 77 of DB_GetItem()]",
       STATUS_ERR_BEF_SAV},
      {"vrkdb_prepare", "3001", "", 0, 0,
       "vrk-1500: Error:    *** First run of DB_GetItem returned DB_NUM_I_COMPLETE",
       STATUS_ERR_BEF_SAV},
      {"vrkdb_prepare", "3000", "3001", 0, 0, "Backup: No more files for DATABASE backup.",
       STATUS_OK},
      {"vrkdb_prepare", "3000", "2000", 0, 0,
       "Backup(vrk): DB_PrepareItem() returned warning for item: [/work/prepared/names.nsf]",
       STATUS_WARNING},
      {"vrkdb_prepare", "3000", "1001", 0, 1,
       "Backup(vrk): DB_PrepareItem() failed with system error code: [42], Severity: [SEVERE]",
       STATUS_WARNING},
      {"vrkdb_prepare", "3000", "1000", -1, 0,
       "Backup: DB_PrepareItem() failed. System error code: [42], Severity: [SEVERE]",
       STATUS_ERR_BEF_SAV},
      {"vrkdb_prepare", "1001", "", 0, 1, "Backup(vrk): DB_GetItem() failed for item: []",
       STATUS_WARNING},
  };
  for (const ItemCase &c : cases) {
    SCOPED_TRACE(std::string(c.module) + " " + c.item + " " + c.prepare);
    FreshGlobal();
    unlink(record_.c_str());
    UseModule(c.module);
    spGlobal->eOPERATION = BACKUP;
    spGlobal->iLogLevel = 4;
    setenv("VRKDB_ITEM", c.item, 1);
    setenv("VRKDB_PREPARE", c.prepare, 1);
    DbRun r = Run();
    EXPECT_EQ(c.rc, r.rc) << r.log;
    EXPECT_EQ(c.notsaved, spGlobal->sVRKObject.ulNotSaved);
    EXPECT_THAT(r.log, HasSubstr(c.logged));
    EXPECT_EQ(c.status, spGlobal->sVRKObject.eOperStatus) << r.log;
  }
}

TEST_F(DbInitTest, AnExcludedFirstItemIsNotPrepared) {
  UseModule("vrkdb_prepare");
  spGlobal->eOPERATION = BACKUP;
  spGlobal->iLogLevel = 1;
  spGlobal->bItemFinishedOK = TRUE;
  spGlobal->sVRKObject.cpExclude[0] = Dup("\\.nsf$");
  ASSERT_EQ(1, vrk_regcomp_all());
  DbRun r = Run();
  EXPECT_EQ(0, r.rc);
  EXPECT_EQ(1u, spGlobal->sVRKObject.ulNotSaved);
  EXPECT_EQ(FALSE, spGlobal->bItemFinishedOK);
  EXPECT_THAT(r.log, HasSubstr("Item [names.nsf] excluded."));
  EXPECT_THAT(r.log, HasSubstr("*** First item [names.nsf] excluded!"));
  EXPECT_TRUE(Record("PrepareItem").empty());
}

TEST_F(DbInitTest, AModuleTextThatOverrunsItsBufferIsRefused) {
  for (const char *var : {"VRKDB_FILE", "VRKDB_ORIG"}) {
    SCOPED_TRACE(var);
    FreshGlobal();
    UseModule("vrkdb_file");
    spGlobal->eOPERATION = BACKUP;
    setenv("VRKDB_UNTERMINATED", var, 1);
    DbRun r = Run();
    EXPECT_EQ(-1, r.rc);
    EXPECT_THAT(r.log, HasSubstr("DB_GetItem() returned a text longer than 1023 characters"));
    EXPECT_STREQ("", spGlobal->sVRKObject.szItem);
  }
  FreshGlobal();
  UseModule("vrkdb_prepare");
  spGlobal->eOPERATION = BACKUP;
  setenv("VRKDB_UNTERMINATED", "VRKDB_PREPARED", 1);
  DbRun r = Run();
  EXPECT_EQ(-1, r.rc);
  EXPECT_THAT(r.log, HasSubstr("DB_PrepareItem() returned a text longer than 1023 characters"));
}

}  // namespace
}  // namespace vrktest
