#pragma once

// Finding the controller: the port remembered in the settings first, then COM1 to COM19. A port
// is the controller's when it opens and the device on it answers the identification request
// with a text containing IdentificationPrefix. Everything happens on the link given; the port
// found stays open on it (its CurrentPort()).

#include "FrameLink.h"
#include "PortMap.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

constexpr int IdentificationTimeoutMs = 200;

// "Лорк КB-90" (the B is Latin) and "-2К" (the К is Cyrillic), as Windows-1251 bytes.
const QByteArray& IdentificationPrefix();
const QByteArray& DualChannelMark();

// Whether port n can be opened (the link's AccessCOM); opens nothing for good.
LinkBool ProbePort(const FrameLink& link, int n);

// Makes port n the link's open port at the given speed. n = 0 closes any open port and fails;
// n = link.CurrentPort() succeeds at once; otherwise the open port is closed and port n opened
// and put into mode 8N1. link.CurrentPort() is n on success and 0 on failure (a port that opens
// but refuses the mode is closed again).
bool OpenPort(FrameLink& link, int n, int speed);

// Asks the controller at the link's DeviceAddress for its identification text (ReadIdentification)
// and stores the reply up to its first zero byte (or its end) in text. False when the request
// cannot be sent or no reply comes in time; text is then untouched.
bool ReadIdentification(FrameLink& link, QByteArray& text);

// The identification contains IdentificationPrefix somewhere (byte for byte, case-sensitive).
bool IsControllerIdentification(const QByteArray& text);
// 2 when the identification contains DualChannelMark, else 1.
int ChannelCountFor(const QByteArray& text);

struct DiscoveryResult {
    int port = 0;         // the port the controller answered on (= link.CurrentPort()); 0 = none
    int channelCount = 0; // 1 or 2; 0 when none was found
    QByteArray identification;
};

// Tries configuredPort, then ports 1 to 19 (configuredPort again if it is among them), closing
// every candidate that is not accepted. Every request goes to the link's DeviceAddress.
DiscoveryResult DiscoverController(FrameLink& link, int configuredPort, int speed);

// Tries the port alone, as discovery tries each candidate: the link is left open on it when the
// controller answered, closed otherwise. For a reader told which port to read. The result's port
// is the port's number (0 for a device or an address named as itself: no number is looked up,
// which would list the machine's serial devices, far dearer than a read of a few new records);
// channelCount tells whether the controller answered.
DiscoveryResult FindControllerOn(FrameLink& link, const Port& port, int speed);
