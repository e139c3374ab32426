// Names the exFAT tree of a scan after the volume's label entry when the
// scanned device has no name of its own (a whole disk, an image file).
#pragma once

class IDirecotryTreeBuilder;
class IStorageDevice;

// rootSector: the first sector of the root directory on device. The label
// entry is looked for in that sector only, where formatters put it.
void NameExFatTreeAfterLabel(IDirecotryTreeBuilder* builder, IStorageDevice* device, long long rootSector);
