// A complete searcher of FAT type (32) for tests: instead of reading the
// disk it hands the tree builder the files of a manifest (tsk2manifest.py),
// so the copy-out path can be driven end to end on any image.
#pragma once

#include <string>

#include "ISearcher.h"

// Reads its manifest from the environment variable VANTREL_MANIFEST.
ICompleteFileSystemSearchController* CreateManifestSearcher();

// Registers only the manifest searcher, under type 32.
void RegisterManifestSearcher();
