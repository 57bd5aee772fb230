// Fuzz target of the stand-in's name-list parser: arbitrary bytes checked as
// a stored name list, then every entry read through the name calls.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "fuzz_sandbox.h"
#include "sms/sms_namelist.h"
#include "sms/smsapi.h"

extern "C" CCODE vrk_sms_check_name_list(const NWSM_DATA_SET_NAME_LIST *list, UINT32 realSize);

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vrk_fuzz_sandbox();
  unsetenv("VRK_SMS_WORLD");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // An exact heap copy: any read past the list is caught.
  std::vector<uint8_t> copy(data, data + size);
  const auto *list = reinterpret_cast<const NWSM_DATA_SET_NAME_LIST *>(copy.data());
  std::vector<vrksms::NameEntry> entries;
  if (size > 0) vrksms::ParseNameList(copy.data(), size, entries);
  if (vrk_sms_check_name_list(size > 0 ? list : nullptr, (UINT32)size) != 0) return 0;

  // A checked list: the calls that trust its own size field.
  NWSM_DATA_SET_NAME name;
  memset(&name, 0, sizeof name);
  if (NWSMGetOneName(list, &name) == 0) NWSMFreeDataSetName(&name);
  UINT32 handle = 0;
  if (NWSMGetFirstName(list, &name, &handle) == 0) {
    NWSMFreeDataSetName(&name);
    while (NWSMGetNextName(&handle, &name) == 0) NWSMFreeDataSetName(&name);
    NWSMCloseName(&handle);
  }
  for (UINT32 ns : {0u, 2u, 256u}) {
    if (NWSMGetDataSetName(list, ns, &name) == 0) NWSMFreeDataSetName(&name);
  }
  // Re-encoding what was parsed gives the same bytes.
  NWSM_DATA_SET_NAME_LIST *again = nullptr;
  if (vrksms::EncodeNameList(entries, &again) == 0) {
    if (vrksms::EncodedListSize(entries) != size || memcmp(again, copy.data(), size) != 0) abort();
    free(again);
  }
  return 0;
}
