#pragma once

// The program's INI settings file, held whole in memory from the window's creation to its
// closing. The file is Windows-1251. Keys and sections the program does not know, and comments,
// are kept and written back unchanged; keys are written as they are (spaces included).
//
// How the settings (settings/) report a failure: reading never fails: a file missing or not
// readable reads as empty, a value absent or not a number as its default, a "Ports" entry that is
// not one of its forms is left out and named in the refusals. Writing the file (UpdateFile) is the
// one failure: it throws std::runtime_error with the cause in Russian naming the file, and leaves
// the old file whole; the window shows the text in a message box, the port doctor under its table.

#include <QString>
#include <QStringList>

#include <map>
#include <memory>

class SettingsFile {
public:
    // Reads the file at readPath if it exists (a missing or unreadable file reads as empty);
    // UpdateFile writes to writePath.
    SettingsFile(const QString& readPath, const QString& writePath);
    explicit SettingsFile(const QString& path) : SettingsFile(path, path) {}
    ~SettingsFile();

    // The value as a decimal integer (leading and trailing blanks ignored), or def when the key
    // is absent or its value is not a number.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteString(const QString& section, const QString& key, const QString& value);
    // Removes a whole section with its keys; harmless when it does not exist.
    void EraseSection(const QString& section);

    // The "Ports" section: COM<n>=device, for the port map of the link. Entries whose name is not
    // COM followed by a number are skipped.
    // An entry that names a port on the network ("tcp://…", "rfc2217://…") and is not one of
    // its forms is left out; each such entry is added to `refused` with its cause, when given,
    // and its number to `refusedNumbers` with the cause as the number's messages say it, so
    // that the number can be kept from every device (PortMap).
    std::map<int, QString> ReadPorts(QStringList* refused = nullptr,
                                     std::map<int, QString>* refusedNumbers = nullptr) const;
    // Gives the device the number: COM<n>=device in "Ports"; another entry naming the same
    // device is removed, so that a device answers to one number. Every other key stays.
    void WritePort(int number, const QString& device);

    // Writes the whole file through a temporary file that replaces the old one only when
    // complete. Throws std::runtime_error with the cause in Russian, naming the file, when that
    // fails.
    void UpdateFile() const;

    QString WritePath() const { return writePath_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    QString writePath_;
};
