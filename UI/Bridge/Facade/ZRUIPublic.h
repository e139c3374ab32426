// The windows' side of the bridge's helper class ZRUIPublic: the main-thread
// notifier. The class itself is shared with the engine side of the bridge
// (BridgeUtil.h); its notifier members are defined in this folder's library.
//
//   ZRUIPublic::NotifyMainThread("NormalScranValue");
//     posts "NormalScranValue" on NotificationCenter::defaultCenter() on the
//     application's thread, without waiting, with ZRUIPublic::ClassObject()
//     as the notification's object and no user information.
//
// Observers may pass ZRUIPublic::ClassObject() as the sender to hear only the
// bridge's notifications.
#pragma once

#include "BridgeUtil.h"
