#include "peercred.h"

#include <sys/socket.h>
#include <unistd.h>

bool peerUserId(int socketDescriptor, uid_t *uid)
{
    struct ucred cred
    {
    };
    socklen_t length = sizeof cred;
    if (socketDescriptor < 0 ||
        ::getsockopt(socketDescriptor, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 ||
        length != sizeof cred)
        return false;
    *uid = cred.uid;
    return true;
}

bool peerIsSameUser(int socketDescriptor)
{
    uid_t uid = 0;
    return peerUserId(socketDescriptor, &uid) && uid == ::geteuid();
}
