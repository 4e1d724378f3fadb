// fuzz_settings_file: any bytes as the settings file. The window's reads and one write, then a
// save: the saved file must read back to the same settings, and from the second save on the
// file's lines must stay as they are, so that no file grows or drifts over the program's runs.
// Blank lines do not count: the INI library moves them around comments for a save or two.

#include "FuzzCheck.h"
#include "SettingsFile.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <map>

namespace {

const QString kGeneral = QStringLiteral("General");

struct KnownSettings {
    int left, top, port, speed, address;
    std::map<int, QString> ports;
    bool operator==(const KnownSettings&) const = default;
};

KnownSettings Read(const SettingsFile& s) {
    return {s.ReadInteger(kGeneral, QStringLiteral("Left"), -1),
            s.ReadInteger(kGeneral, QStringLiteral("Top"), -1),
            s.ReadInteger(kGeneral, QStringLiteral("COM port"), -1),
            s.ReadInteger(kGeneral, QStringLiteral("COM speed"), -1),
            s.ReadInteger(kGeneral, QStringLiteral("Device address"), -1),
            s.ReadPorts()};
}

QList<QByteArray> Lines(const QString& path) {
    QFile f(path);
    KV_FUZZ_CHECK(f.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = f.readAll().split('\n');
    lines.removeIf([](const QByteArray& line) { return line.trimmed().isEmpty(); });
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("input.INI"));
    const QString saved = dir.filePath(QStringLiteral("saved.INI"));
    const QString again = dir.filePath(QStringLiteral("again.INI"));
    const QString third = dir.filePath(QStringLiteral("third.INI"));
    {
        QFile f(input);
        KV_FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        KV_FUZZ_CHECK(f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
                      static_cast<qint64>(size));
    }

    SettingsFile first(input, saved);
    KnownSettings known = Read(first);
    first.WriteInteger(kGeneral, QStringLiteral("COM port"), 7);
    known.port = 7;
    first.UpdateFile();

    SettingsFile second(saved, again);
    KV_FUZZ_CHECK(Read(second) == known);
    second.UpdateFile();
    SettingsFile(again, third).UpdateFile();
    KV_FUZZ_CHECK(Lines(again) == Lines(third));
    return 0;
}
