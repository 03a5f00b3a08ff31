#pragma once

#include <sys/types.h>

// The user id of the process at the other end of a connected local (AF_UNIX)
// socket, from the kernel (SO_PEERCRED); false when it cannot be read.
bool peerUserId(int socketDescriptor, uid_t *uid);

// Whether the other end of the local socket runs as this process's effective
// user. Anything that cannot be checked is another user.
bool peerIsSameUser(int socketDescriptor);
