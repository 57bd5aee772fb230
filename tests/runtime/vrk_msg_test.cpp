// Tests of the message catalogue: size, order, levels by thousand, the
// caller-format and tag rows, and quoted texts.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "runtime/vrk_msg.h"

namespace {

TEST(MsgCatalogue, ShapeAndOrder) {
  ASSERT_EQ(696u, sMessageCount);
  EXPECT_EQ(9999, sMessage[sMessageCount - 1].iMsgID);
  EXPECT_EQ(E_ERROR, sMessage[sMessageCount - 1].eMsgLevel);
  size_t perLevel[5] = {0, 0, 0, 0, 0};
  for (size_t i = 0; i + 1 < sMessageCount; ++i) {
    EXPECT_LT(sMessage[i].iMsgID, 9999);
    if (i > 0) {
      EXPECT_LE(sMessage[i - 1].iMsgID, sMessage[i].iMsgID) << i;
      if (sMessage[i - 1].iMsgID == sMessage[i].iMsgID) {
        EXPECT_EQ(1180, sMessage[i].iMsgID);
      }
    }
    int thousand = sMessage[i].iMsgID / 1000;
    EXPECT_EQ(thousand, (int)sMessage[i].eMsgLevel) << sMessage[i].iMsgID;
    perLevel[sMessage[i].eMsgLevel]++;
  }
  EXPECT_EQ(224u, perLevel[E_ERROR]);
  EXPECT_EQ(131u, perLevel[E_WARNING]);
  EXPECT_EQ(339u, perLevel[E_INFO]);
  EXPECT_EQ(1u, perLevel[E_TRACE]);
}

TEST(MsgCatalogue, Lookups) {
  EXPECT_EQ(9999, vrk_msg_lookup(1000)->iMsgID);
  EXPECT_EQ(9999, vrk_msg_lookup(5000)->iMsgID);
  EXPECT_EQ(9999, vrk_msg_lookup(1155)->iMsgID);
  // 1180 stands twice; the lookup takes the first of the two rows.
  const _sMessage *r1180 = vrk_msg_lookup(1180);
  EXPECT_EQ(1180, (r1180 + 1)->iMsgID);
  EXPECT_NE(1180, (r1180 - 1)->iMsgID);
  EXPECT_STREQ("VSSOperation error: Code: [0x%08lx], Error text: %s", r1180->cpMsgText);
}

TEST(MsgCatalogue, SpecialRows) {
  struct Case {
    int code;
    _eMsgLevel level;
    const char *text;
  } cases[] = {
      {1500, E_ERROR, ""},
      {2500, E_WARNING, ""},
      {3500, E_INFO, ""},
      {4000, E_TRACE, ""},
      {3000, E_INFO, "%s"},
      {3925, E_INFO, "VDDK:    {#s}"},
      {3929, E_INFO, "VRKVM:   {#s}"},
      {3932, E_INFO, "Save CBT:  {#s}"},
      {1042, E_ERROR, "Invalid usage. Try \"vrk -h\" for help screen."},
      {3031, E_INFO, "Storage Host:     %s:%d,%d-%d:%s:%s"},
      {3006, E_INFO, "Saveset size: %s bytes. Throughput: %s MB/Hour."},
      {3250, E_INFO, "Transferred: %0.f MB. Throughput: %0.2f MB/h"},
      {3259, E_INFO, "%0.f%% processed."},
      {3184, E_INFO, "setuid(0) failed: %s (%d)"},
      {2052, E_WARNING, "Cannot read item name from archive: [%s][%d][%d]."},
      {9999, E_ERROR, "Unknown message code: [%d]."},
  };
  for (const Case &c : cases) {
    const _sMessage *row = vrk_msg_lookup(c.code);
    EXPECT_EQ(c.code, row->iMsgID);
    EXPECT_EQ(c.level, row->eMsgLevel) << c.code;
    EXPECT_STREQ(c.text, row->cpMsgText) << c.code;
  }
  // Only the three tag rows carry the tag, each at its end.
  int tags = 0;
  for (size_t i = 0; i < sMessageCount; ++i) {
    const char *t = strstr(sMessage[i].cpMsgText, "{#s}");
    if (t) {
      ++tags;
      EXPECT_EQ('\0', t[4]) << sMessage[i].iMsgID;
    }
  }
  EXPECT_EQ(3, tags);
}

}  // namespace
