#pragma once

// The simulator's command line.

#include "DialRegistration.h"
#include "ModemPackets.h"
#include "SimFaults.h"
#include "SimPlantedFaults.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace sim {

struct SimOptions {
    int channels = 2;
    int address = 1;
    int serial = 12345;
    QString comment = QStringLiteral("Котельная");
    std::optional<QString> identification; // default follows the channel count
    QString imagePath;                     // empty: a generated archive
    bool clean = false;                    // a generated archive without its own few faults
    std::vector<PlantedFault> planted;     // faults laid into the archive served
    QString helpText;                      // --help: this is printed and nothing served
    int baud = 0;                          // 0: answers go out as soon as they are ready
    FaultOptions faults;
    // A moved cable: once the archive's last block was read, the controller answers as another
    // one with this serial number and identification text.
    std::optional<int> thenSerial;
    std::optional<QString> thenIdentification;
    QString logPath;
    QString statePath;
    // --at: the archive of the controller's seeded history at this moment (wall clock as UTC);
    // unset: the demo's archive.
    std::optional<QDateTime> at;
    int historySeed = -1; // --history-seed; -1: the serial number
    // --tcp HOST:PORT [--fleet N]: N controllers (1 without --fleet) on N consecutive TCP ports
    // from PORT, serial numbers (and histories) from --serial on. tcpHost empty: a pseudo-terminal.
    QString tcpHost;
    int tcpPort = 0;
    int fleet = 1;
    // --dialin HOST:PORT: N modems (--fleet) that call HOST:PORT, name themselves with their
    // registrations (from registration on) and serve the controller on the call; dialHost empty:
    // no modem.
    QString dialHost;
    int dialPort = 0;
    Registration registration;
    ModemFraming modem;       // heartbeat, its bytes, the packets of an answer
    double redialSeconds = 5; // a dropped call is made again within 0 to this many seconds
    int clockBackDays = 0;    // --clock-back: the clock set back this many days a day before --at
};

// The default identification text for a channel count.
QString DefaultIdentification(int channels);

// Parses the arguments (without the program name). On a bad argument returns nothing and puts
// the reason into error.
std::optional<SimOptions> ParseSimOptions(const QStringList& args, QString& error);

// "3,7,10-12" -> {3, 7, 10, 11, 12}. Nothing when the text is not such a list of numbers >= 1.
std::optional<std::set<int>> ParseNumberList(const QString& text);

} // namespace sim
