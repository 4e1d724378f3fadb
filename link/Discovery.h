#pragma once

// Finding the controller: the port remembered in the settings first, then COM1 to COM19. A port
// is the controller's when it opens and the device on it answers the identification request
// with a text containing IdentificationPrefix. The port found stays open (CurrentPort()).

#include "FrameLink.h"
#include "PortMap.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

constexpr int IdentificationTimeoutMs = 200;

// "Лорк КB-90" (the B is Latin) and "-2К" (the К is Cyrillic), as Windows-1251 bytes.
const QByteArray& IdentificationPrefix();
const QByteArray& DualChannelMark();

// Whether port n can be opened (AccessCOM); opens nothing.
LinkBool ProbePort(int n);

// Makes port n the link's current port at the given speed. n = 0 closes any open port and
// fails; n = CurrentPort() succeeds at once; otherwise the open port is closed and port n opened
// and put into mode 8N1. CurrentPort() is n on success and 0 on failure (a port that opens but
// refuses the mode is closed again).
bool OpenPort(int n, int speed);

// Asks the controller at DeviceAddress for its identification text (command 3) and stores the
// reply up to its first zero byte (or its end) in text. False when the request cannot be sent or no
// reply comes in time; text is then untouched.
bool ReadIdentification(QByteArray& text);

// The identification contains IdentificationPrefix somewhere (byte for byte, case-sensitive).
bool IsControllerIdentification(const QByteArray& text);
// 2 when the identification contains DualChannelMark, else 1.
int ChannelCountFor(const QByteArray& text);

struct DiscoveryResult {
    int port = 0;         // the port the controller answered on (= CurrentPort()); 0 = none
    int channelCount = 0; // 1 or 2; 0 when none was found
    QByteArray identification;
};

// Tries configuredPort, then ports 1 to 19 (configuredPort again if it is among them), closing
// every candidate that is not accepted. Every request goes to DeviceAddress.
DiscoveryResult DiscoverController(int configuredPort, int speed);
