// The windows' side of the bridge's utility class ZRPublicUtilities (shared
// with the engine side, BridgeUtil.h):
//   longlongDiskSize / longlongConvertVolSpace  size texts ("1.50 KB")
//   fileSystemTypeForInt(type, isDmg)           file-system names
//   isFristTime(), writeFristTime(),
//   getUpDataTimeStr(), writeUpDataTimeStr(t)   the "FristTime" and
//       "upDataTimeStr" keys of the application's settings ("LocalVersionMessage")
//   isCanBeUseNetWork()                         one probe of a public web page
//       (blocks up to 5 s; link vantrel_bridge_qt_services, which the facade
//       library brings along)
// The settings members are defined in this folder's library.
#pragma once

#include "BridgeUtil.h"
