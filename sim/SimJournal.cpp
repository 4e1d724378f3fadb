#include "SimJournal.h"

#include "Cp1251.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace sim {

SimJournal::SimJournal(const QString& logPath, const QString& statePath) : statePath_(statePath) {
    if (!logPath.isEmpty()) {
        log_ = std::fopen(QFile::encodeName(logPath).constData(), "w");
        ok_ = log_ != nullptr;
    }
}

SimJournal::~SimJournal() {
    if (log_)
        std::fclose(log_);
}

void SimJournal::Line(const char* dir, const kv::Frame& frame, const char* fault) {
    if (!log_)
        return;
    const QByteArray hex = QByteArray(reinterpret_cast<const char*>(frame.payload.data()),
                                      static_cast<qsizetype>(frame.payload.size()))
                               .toHex()
                               .toUpper();
    std::fprintf(log_, "{\"dir\":\"%s\",\"address\":%d,\"command\":%d,\"payload\":\"%s\"", dir,
                 frame.address, frame.command, hex.constData());
    if (*fault)
        std::fprintf(log_, ",\"fault\":\"%s\"", fault);
    std::fputs("}\n", log_);
    // Tests read the log while the simulator runs.
    std::fflush(log_);
}

void SimJournal::Received(const kv::Frame& request, const char* fault) {
    Line("rx", request, fault);
}

void SimJournal::Sent(const kv::Frame& answer) {
    Line("tx", answer, "");
}

void SimJournal::WriteState(const Identity& identity) {
    if (statePath_.isEmpty())
        return;
    QJsonObject state;
    state["address"] = identity.address;
    state["serial"] = identity.serial;
    state["comment"] = FromCp1251(identity.comment);
    // A reader never sees half a file.
    QSaveFile file(statePath_);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(state).toJson(QJsonDocument::Compact) + '\n') < 0 ||
        !file.commit())
        ok_ = false;
}

} // namespace sim
