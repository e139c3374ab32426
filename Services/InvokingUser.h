// The user on whose behalf a privileged run works (pkexec or sudo): files and
// folders we create for that user are handed over to them.
#pragma once

#include <sys/types.h>

#include <string>

// True when the process runs as root and PKEXEC_UID (else SUDO_UID) names the
// invoking user; gid is SUDO_GID, else the user's primary group, else -1.
bool GetInvokingUser(uid_t& uid, gid_t& gid);

// fchown of an open file or folder to the invoking user, when there is one.
// Failure is ignored: the data matters more than its owner.
void GiveToInvokingUser(int fd);

// The home folder the password database gives for uid; empty when none.
std::string HomeOfUser(uid_t uid);
