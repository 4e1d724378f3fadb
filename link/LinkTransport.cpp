#include "LinkTransport.h"

#include "NetworkTransport.h"
#include "PortMap.h"
#include "SerialTransport.h"

#include <utility>

namespace {

LinkTransportFactory& Factory() {
    static LinkTransportFactory factory;
    return factory;
}

} // namespace

void SetLinkTransportFactory(LinkTransportFactory factory) {
    Factory() = std::move(factory);
}

std::unique_ptr<LinkTransport> MakeLinkTransport(const QString& device) {
    if (Factory())
        return Factory()();
    return NamesNetworkPort(device) ? MakeNetworkTransport() : MakeSerialTransport();
}
