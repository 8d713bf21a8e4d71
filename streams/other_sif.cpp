#include "streams/other_sif.h"

#include "streams/parse_result.h"

namespace zv {

template <class T>
static void CopyIfSame(T& self, const CSifData& o) {
  if (auto* p = dynamic_cast<const T*>(&o)) self = *p;
}

// ---- DTS

int CDTSSif::CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const {
  bool hd = codingType == kSctDtsHdHr || codingType == kSctDtsHdMa;
  out1->model = codingType == kSctDtsHdSecondary ? SPacketRule::kDtsHd : SPacketRule::kDts;
  if (codingType == kSctDtsHdSecondary) out1->primary = false;
  if (!hd) return 1;
  out2->model = SPacketRule::kDtsHd;
  return 2;
}

}  // namespace zv
