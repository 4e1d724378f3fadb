// What a modem sends on its call (anything: a scan, a hostile peer), cut as TCP may cut it,
// through the filter that takes its heartbeats off, with noise strings the input chooses; and
// the same bytes as a line on the listener's local channel. The filter never gives more bytes
// than came, and holds back no more than it was given.

#include "CallFilter.h"
#include "DialinChannel.h"
#include "FuzzCheck.h"
#include "InputChunks.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte says how long the heartbeat is (0 to 7), the next bytes are it; a second
    // noise string (a registration before every packet) is the two bytes after.
    const std::size_t beat = size > 0 ? data[0] % 8 : 0;
    const std::size_t head = std::min(size, 1 + beat + 2);
    const auto* text = reinterpret_cast<const char*>(data);
    std::vector<QByteArray> noise{
        QByteArray(text + std::min<std::size_t>(1, size),
                   static_cast<qsizetype>(std::min(beat, size > 0 ? size - 1 : 0))),
        QByteArray(text + std::min(size, 1 + beat),
                   static_cast<qsizetype>(head - std::min(size, 1 + beat)))};
    CallFilter filter(noise);
    std::size_t fed = 0;
    std::size_t given = 0;
    for (const auto chunk : InputChunks(data + head, size - head)) {
        given += static_cast<std::size_t>(
            filter
                .Feed(QByteArrayView(reinterpret_cast<const char*>(chunk.data()),
                                     static_cast<qsizetype>(chunk.size())))
                .size());
        fed += chunk.size();
        KV_FUZZ_CHECK(given <= fed);
    }
    given += static_cast<std::size_t>(filter.Flush().size());
    KV_FUZZ_CHECK(given <= fed);

    const QByteArray line(text, static_cast<qsizetype>(size));
    if (const auto id = ParseDialinRequest(line))
        KV_FUZZ_CHECK(ParseDialinRequest(DialinRequest(*id).chopped(1)) == id);
    if (const auto answer = ParseDialinAnswer(line))
        KV_FUZZ_CHECK(ParseDialinAnswer(FormatDialinAnswer(*answer)).has_value());
    return 0;
}
