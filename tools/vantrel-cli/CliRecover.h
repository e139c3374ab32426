// vantrel-cli --recover: copies the files a scan delivered into a folder.
#pragma once

#include <string>
#include <vector>

#include "CliCommands.h"

class IFileNode;
class IRecoveryController;

// For every shown file node in delivered (only deleted ones with
// --deleted-only), in order: the copier of its tree's type, the node, a free
// path below options.recoverDir, the copy, with the "recovering" progress.
// Names the first few failures of each reason on standard error and ends
// with "recovered N files, M failed (SIZE written to DIR)" and one line per
// reason (unless --quiet); CLI_OK when every file was written, else
// CLI_ENGINE_ERROR. Call before the controller is released:
// the nodes belong to its tree builder.
int CliRecoverFound(const CliOptions& options, IRecoveryController* controller,
                    const std::vector<IFileNode*>& delivered);

// Makes the folder for recovered files (and the folders above it) and checks
// that files can be made in it. CLI_OK, or a failure in words.
int CliPrepareRecoveryFolder(const std::string& folder);
