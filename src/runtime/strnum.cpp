// Numbers to text: decimal into static buffers and byte counts in a
// human-readable form with a unit letter.
#include <stdio.h>

#include "runtime/strlib.h"

char *longtoasc(long n) {
  static char szBuf[256];
  snprintf(szBuf, sizeof(szBuf), "%ld", n);
  return szBuf;
}

char *intoas(long n) {
  static char szBuf[256];
  snprintf(szBuf, sizeof(szBuf), "%ld", n);
  return szBuf;
}

char *szHumanReadable(double dSize, char *pszOutput, int iSize) {
  if (pszOutput == nullptr || iSize <= 0) return pszOutput;
  size_t n = static_cast<size_t>(iSize);
  const double kT = 1099511627776.0, kG = 1073741824.0, kM = 1048576.0, kK = 1024.0;
  if (dSize >= kT)
    snprintf(pszOutput, n, "%0.1fT", dSize / kT);
  else if (dSize >= kG)
    snprintf(pszOutput, n, "%0.1fG", dSize / kG);
  else if (dSize >= kM)
    snprintf(pszOutput, n, "%0.1fM", dSize / kM);
  else if (dSize >= kK)
    snprintf(pszOutput, n, "%0.1fK", dSize / kK);
  else
    snprintf(pszOutput, n, "%0.1fB", dSize);
  return pszOutput;
}
