#include "LinkTransport.h"

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

std::unique_ptr<LinkTransport> MakeLinkTransport() {
    if (Factory())
        return Factory()();
    return MakeSerialTransport();
}
