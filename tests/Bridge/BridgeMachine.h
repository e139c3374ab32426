// The fake machine of the bridge tests (AddBridgeDisks), listed once into
// the process's device list and kept for the whole run: a scan keeps
// pointers to its devices. Also readies the type lists and the tree
// builder the way the windows do.
#pragma once

// With moreSharesTempDevice, the volume MORE gets the device number of the
// temporary folders' file system (for the same-device tests). Only the first
// call of a process decides.
void ListBridgeMachine(bool moreSharesTempDevice);
