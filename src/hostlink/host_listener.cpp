#include "hostlink/host_listener.h"

void HostListener::incomingConnection(qintptr socketDescriptor)
{
    emit connectionRequest(socketDescriptor);
}
