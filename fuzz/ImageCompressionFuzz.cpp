// fuzz_image_compression: any bytes as a compressed image, the first byte giving the channel
// count (1 or 2; anything else is refused). A refused stream gives a cause and no image; an
// accepted one gives exactly the whole image, which compresses again into a stream that gives
// it back.

#include "ArchiveGeometry.h"
#include "FuzzCheck.h"
#include "ImageCompression.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int channels = data[0];
    const QByteArray stored(reinterpret_cast<const char*>(data + 1),
                            static_cast<qsizetype>(size - 1));
    QString error;
    const QByteArray image = DecompressImage(stored, channels, error);
    if (image.isEmpty()) {
        KV_FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    KV_FUZZ_CHECK(channels == 1 || channels == 2);
    KV_FUZZ_CHECK(image.size() == ArchiveSize && error.isEmpty());
    QString again;
    KV_FUZZ_CHECK(DecompressImage(CompressImage(image, channels), channels, again) == image);
    return 0;
}
