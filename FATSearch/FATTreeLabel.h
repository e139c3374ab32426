// Names the FAT tree of a scan after the volume's label when the scanned
// device has no name of its own (a whole disk, an image file).
#pragma once

class IDirecotryTreeBuilder;
class IStorageDevice;

void NameTreeAfterLabel(IDirecotryTreeBuilder* builder, IStorageDevice* device, unsigned long long volumeStart);
