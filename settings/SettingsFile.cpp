#include "SettingsFile.h"

#include "Cp1251.h"
#include "NetworkPort.h"
#include "OneLinePath.h"
#include "PortMap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

// The file is bytes to us: no Unicode conversion inside the INI library.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The file is Windows-1251 bytes; SimpleIni keeps them as they are, and they are converted at
// this edge only.
std::string Bytes(const QString& text) {
    return ToCp1251(text).toStdString();
}

QString Text(const char* bytes) {
    return FromCp1251(bytes);
}

// A section header without its closing bracket ("[Ports") is closed at the end of its line. The
// INI library would otherwise take the name to run on into the next key, write that back as a
// header spanning two lines, and grow the file by a line at every save.
QByteArray CloseSectionHeaders(QByteArray data) {
    for (qsizetype at = 0; at < data.size(); ++at) {
        const qsizetype line = at;
        while (at < data.size() && data[at] != '\n' && data[at] != '\r')
            ++at;
        // [line, at) is one line.
        QByteArrayView text = QByteArrayView(data).sliced(line, at - line);
        // The library reads past a byte-order mark at the start of the file.
        if (line == 0 && text.startsWith("\xEF\xBB\xBF"))
            text = text.sliced(3);
        text = text.trimmed();
        if (text.startsWith('[') && !text.contains(']'))
            data.insert(at++, ']');
    }
    return data;
}

} // namespace

struct SettingsFile::Impl {
    CSimpleIniA ini{/*isUtf8=*/false, /*multiKey=*/false, /*multiLine=*/false};
};

SettingsFile::SettingsFile(const QString& readPath, const QString& writePath)
    : impl_(std::make_unique<Impl>()), writePath_(writePath) {
    // "COM port=3", as the file has always been written.
    impl_->ini.SetSpaces(false);
    QFile file(readPath);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray data = CloseSectionHeaders(file.readAll());
        impl_->ini.LoadData(data.constData(), static_cast<size_t>(data.size()));
    }
}

SettingsFile::~SettingsFile() = default;

QString SettingsFile::ReadString(const QString& section, const QString& key,
                                 const QString& def) const {
    const char* value = impl_->ini.GetValue(Bytes(section).c_str(), Bytes(key).c_str(), nullptr);
    return value ? Text(value) : def;
}

int SettingsFile::ReadInteger(const QString& section, const QString& key, int def) const {
    bool ok = false;
    const int value = ReadString(section, key, QString()).trimmed().toInt(&ok, 10);
    return ok ? value : def;
}

void SettingsFile::WriteInteger(const QString& section, const QString& key, int value) {
    impl_->ini.SetValue(Bytes(section).c_str(), Bytes(key).c_str(), std::to_string(value).c_str());
}

void SettingsFile::WriteString(const QString& section, const QString& key, const QString& value) {
    impl_->ini.SetValue(Bytes(section).c_str(), Bytes(key).c_str(), Bytes(value).c_str());
}

void SettingsFile::EraseSection(const QString& section) {
    impl_->ini.Delete(Bytes(section).c_str(), nullptr);
}

std::map<int, QString> SettingsFile::ReadPorts(QStringList* refused,
                                               std::map<int, QString>* refusedNumbers) const {
    std::map<int, QString> ports;
    CSimpleIniA::TNamesDepend keys;
    if (!impl_->ini.GetAllKeys("Ports", keys))
        return ports;
    for (const auto& entry : keys) {
        const QString key = Text(entry.pItem).trimmed();
        const int number = PortNumber(key);
        const char* value = impl_->ini.GetValue("Ports", entry.pItem, nullptr);
        if (!value || !*value)
            continue;
        const QString device = Text(value).trimmed();
        if (number == 0) {
            // A line the user meant for a port ("1=…", "COM 1=…") must not vanish without a word.
            if (refused)
                *refused << QStringLiteral("Порт в настройках не принят: [Ports] %1=%2: имя порта "
                                           "пишется COM и номер, например COM1")
                                .arg(ShownName(key), ShownName(device));
            continue;
        }
        if (NamesNetworkPort(device)) {
            // Only the forms a port on the network has; nothing else is read from the text.
            const NetworkPortParse parse = ParseNetworkPort(device);
            if (!parse.ok) {
                const QString entryText =
                    QStringLiteral("[Ports] %1=%2").arg(ShownName(key), ShownName(device));
                if (refused)
                    *refused << QStringLiteral("Порт в настройках не принят: %1: %2")
                                    .arg(entryText, parse.cause);
                if (refusedNumbers)
                    (*refusedNumbers)[number] =
                        QStringLiteral("запись %1 не принята: %2").arg(entryText, parse.cause);
                continue;
            }
        }
        ports[number] = device;
    }
    return ports;
}

void SettingsFile::WritePort(int number, const QString& device) {
    const std::string key = Bytes(PortName(number));
    CSimpleIniA::TNamesDepend keys;
    impl_->ini.GetAllKeys("Ports", keys);
    std::vector<std::string> others; // copied: deleting frees the names
    for (const auto& entry : keys) {
        const QString name = Text(entry.pItem).trimmed();
        const char* value = impl_->ini.GetValue("Ports", entry.pItem, nullptr);
        const int n = PortNumber(name);
        // Another spelling of the same number ("com05"), or another number for the device.
        if (name != Text(key.c_str()) &&
            (n == number || (n != 0 && value && Text(value).trimmed() == device)))
            others.emplace_back(entry.pItem);
    }
    for (const std::string& other : others)
        impl_->ini.Delete("Ports", other.c_str());
    impl_->ini.SetValue("Ports", key.c_str(), Bytes(device).c_str());
}

void SettingsFile::UpdateFile() const {
    std::string data;
    if (impl_->ini.Save(data) < 0)
        throw std::runtime_error(QStringLiteral("Не удалось записать настройки").toStdString());
    // The reader takes a byte-order mark at the very start as the file's and drops it: a first
    // key that begins with one gets a mark of its own in front, so that it reads back whole.
    if (data.starts_with("\xEF\xBB\xBF"))
        data.insert(0, "\xEF\xBB\xBF");
    QDir().mkpath(QFileInfo(writePath_).absolutePath());
    QSaveFile file(writePath_);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error(QStringLiteral("Не удалось создать файл настроек %1: %2")
                                     .arg(QDir::toNativeSeparators(writePath_), file.errorString())
                                     .toStdString());
    // flush() before commit(): a commit whose own flush fails on a full disk would still put an
    // empty file in the settings' place.
    if (file.write(data.data(), static_cast<qint64>(data.size())) !=
            static_cast<qint64>(data.size()) ||
        !file.flush() || !file.commit())
        throw std::runtime_error(QStringLiteral("Не удалось записать файл настроек %1: %2")
                                     .arg(QDir::toNativeSeparators(writePath_), file.errorString())
                                     .toStdString());
}
