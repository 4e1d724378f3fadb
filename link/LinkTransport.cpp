#include "LinkTransport.h"

#include "NetworkTransport.h"
#include "PortMap.h"
#include "SerialTransport.h"

std::unique_ptr<LinkTransport> MakeLinkTransport(const QString& device, const QString& holdFolder) {
    return NamesNetworkPort(device) ? MakeNetworkTransport(holdFolder) : MakeSerialTransport();
}
