#include "LinkTransport.h"

#include "DialinTransport.h"
#include "NetworkPort.h"
#include "NetworkTransport.h"
#include "PortMap.h"
#include "SerialTransport.h"

std::unique_ptr<LinkTransport> MakeLinkTransport(const QString& device, const QString& holdFolder) {
    if (NamesDialinPort(device))
        return MakeDialinTransport(holdFolder);
    return NamesNetworkPort(device) ? MakeNetworkTransport(holdFolder) : MakeSerialTransport();
}
