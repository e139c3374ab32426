// The name of an HFS+ volume: the name its root folder's thread record gives.
#pragma once

#include <string>

class CHFSPlusVolume;
struct HFSUniStr255;

// A catalog name (host order) as UTF-8; a length past 255 is cut to 255.
std::string HfsNameToUtf8(const HFSUniStr255& name);

// UTF-8, empty when the catalog holds no readable thread of the root folder.
std::string GetHFSPlusVolumeName(CHFSPlusVolume* volume);
