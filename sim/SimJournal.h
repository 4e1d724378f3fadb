#pragma once

// What the simulator writes down for tests: a log of one JSON object per line for every request
// received and every answer sent, and a state file with the controller's identity.

#include "FrameCodec.h"
#include "SimController.h"

#include <QString>

#include <cstdio>

namespace sim {

class SimJournal {
public:
    // Empty paths switch the log or the state file off.
    SimJournal(const QString& logPath, const QString& statePath);
    ~SimJournal();
    SimJournal(const SimJournal&) = delete;
    SimJournal& operator=(const SimJournal&) = delete;

    bool Ok() const { return ok_; }

    // {"dir":"rx","address":1,"command":30,"payload":"E01F040020"} with "fault" when one applies.
    void Received(const kv::Frame& request, const char* fault = "");
    // {"dir":"tx",...}: an answer as it goes on the line.
    void Sent(const kv::Frame& answer);

    // {"address":1,"serial":12345,"comment":"..."} in UTF-8, replaced as a whole.
    void WriteState(const Identity& identity);

private:
    void Line(const char* dir, const kv::Frame& frame, const char* fault);

    std::FILE* log_ = nullptr;
    QString statePath_;
    bool ok_ = true;
};

} // namespace sim
