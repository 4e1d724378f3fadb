// Writes the archive decoder's seed inputs into the folder named on the command line: archives as
// the simulator serves them, for one and two channels, whole and cut short, each behind the
// fuzz target's control byte. Made at build time so that the tree does not hold 270 KB images.

#include "SimArchive.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>

namespace {

bool Write(const QDir& dir, const char* name, char control, const QByteArray& image) {
    QFile f(dir.filePath(QString::fromLatin1(name)));
    return f.open(QIODevice::WriteOnly) && f.write(QByteArray(1, control) + image) > 0 && f.flush();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path()))
        return 1;
    const QByteArray one = sim::GenerateArchive(1);
    const QByteArray two = sim::GenerateArchive(2);
    // Control byte: bit 0 two channels, bit 1 data grids that start small.
    const bool ok = Write(dir, "one-channel-whole", 0, one) &&
                    Write(dir, "two-channels-whole", 1, two) &&
                    // Channel 1 whole with its settings, channel 2 cut off in its first record.
                    Write(dir, "two-channels-cut", 3, two.left(sim::ChannelBlockSize(2) + 40)) &&
                    Write(dir, "one-channel-start", 2, one.left(4096));
    return ok ? 0 : 1;
}
