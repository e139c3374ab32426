// The application's work folder: home of the log and of side files.
#pragma once

#include <string>

// The executable's folder, computed once; VANTREL_WORK_DIR overrides it when
// set at first use.
const char* GetAppWorkPath();
// Overrides the work folder (tests); holders of a copy see the generation
// change and copy it again.
void SetAppWorkPath(const std::string& path);
unsigned GetAppWorkPathGeneration();
