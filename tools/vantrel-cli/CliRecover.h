// vantrel-cli --recover: copies the files a scan delivered into a folder.
#pragma once

#include <vector>

#include "CliCommands.h"

class IFileNode;
class IRecoveryController;

// For every shown file node in delivered (only deleted ones with
// --deleted-only), in order: the copier of its tree's type, the node, a free
// path below options.recoverDir, the copy. Reports failures on standard
// error and ends with "recovered N files, M failed"; CLI_OK when every file
// was written, else CLI_ENGINE_ERROR. Call before the controller is released:
// the nodes belong to its tree builder.
int CliRecoverFound(const CliOptions& options, IRecoveryController* controller,
                    const std::vector<IFileNode*>& delivered);
