// What a box on the network sends (it may be anything: a wrong port, a hostile peer), cut as TCP
// may cut it, through the RFC 2217 client's decoder; and the same bytes as a port map value.
// The decoder never gives more data than came, and data the client escapes comes back whole
// through a fresh decoder, however it is cut.

#include "FuzzCheck.h"
#include "InputChunks.h"
#include "NetworkPort.h"
#include "TelnetComPort.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TelnetComPort telnet(115200);
    std::vector<std::uint8_t> received;
    std::vector<std::uint8_t> reply;
    std::size_t fed = 0;
    for (const auto chunk : InputChunks(data, size)) {
        telnet.Feed(chunk, received, reply);
        fed += chunk.size();
        KV_FUZZ_CHECK(received.size() <= fed);
    }
    (void)telnet.Deviations();

    // The data escaped by the client, cut the way the input chose (its first byte), decodes to
    // the same data.
    std::vector<std::uint8_t> line{size > 0 ? data[0] : std::uint8_t{0}};
    const std::vector<std::uint8_t> escaped = TelnetComPort::Escape(received);
    line.insert(line.end(), escaped.begin(), escaped.end());
    TelnetComPort again(115200);
    std::vector<std::uint8_t> back;
    std::vector<std::uint8_t> none;
    for (const auto chunk : InputChunks(line.data(), line.size()))
        again.Feed(chunk, back, none);
    KV_FUZZ_CHECK(back == received);
    KV_FUZZ_CHECK(none.empty());

    const NetworkPortParse parse = ParseNetworkPort(
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (parse.ok)
        KV_FUZZ_CHECK(ParseNetworkPort(parse.port.Text()).ok);
    return 0;
}
