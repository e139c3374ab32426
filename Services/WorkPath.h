// The application's work folder: home of the settings the program changes,
// its saved scan results and other side files.
#pragma once

#include <map>
#include <string>

// The invoking user's data folder for the program,
// "$XDG_DATA_HOME/vantrel-data-recovery" (by default
// "~/.local/share/vantrel-data-recovery"); under pkexec or sudo the home of
// the user who asked for the rights. VANTREL_WORK_DIR overrides it when set
// at first use. The folder is created on first use and, when made for an
// invoking user, handed over to them. An installed program never writes
// beside its executable.
const char* GetAppWorkPath();
// Overrides the work folder (tests); holders of a copy see the generation
// change and copy it again.
void SetAppWorkPath(const std::string& path);
unsigned GetAppWorkPathGeneration();

// The rule above over the given variables, without touching the disk.
// invokingHome is the invoking user's home when the process runs on their
// behalf, else empty; ownHome is the home of the process's own user from the
// user database. Empty when no folder can be named.
std::string ChooseAppWorkPath(const std::map<std::string, std::string>& environment,
                              const std::string& invokingHome, const std::string& ownHome);

// Creates path and its missing parents (mode 0700 for the last, 0755 for the
// others), handing every folder it made to the invoking user; true when the
// folder exists afterwards.
bool MakeWorkFolder(const std::string& path);
