#pragma once

// The frame-link library: one current serial port, one request frame out, one reply frame in.
// Every result is an 8-bit boolean, nonzero meaning success. Called from the user-interface
// thread only, one exchange at a time.
//
// How the protocol layer (link/) reports a failure: the frame functions here return their
// boolean; a command sequence (Exchange.h) raises LinkError with the text the user sees ("TX
// Error", "RX Error") and catches it at its own edge, so that every public command returns its
// outcome in a result: a struct with the error text of the failed step (IdentityReadResult,
// WriteIdentity's text, DiscoveryResult with port 0). Nothing throws out of link/.

#include <QString>

#include <cstdint>

using LinkBool = std::uint8_t;

// Link variables, process-wide, shared by every command sequence.
extern std::uint8_t DeviceAddress; // network address sent with every request
extern std::uint8_t FrameCommand;  // command of the request; RxFrame stores the reply's
extern std::uint8_t FrameLength;   // payload length of the request; RxFrame stores the reply's
constexpr int kTxBufferSize = 37;
constexpr int kRxBufferSize = 41;
extern std::uint8_t TxBuffer[kTxBufferSize]; // request payload
extern std::uint8_t RxBuffer[kRxBufferSize]; // payload of the last reply

// True when the port named "COM<n>" maps to a device that exists and can be opened for
// reading and writing (the current port counts as such). Does not change the current port.
LinkBool AccessCOM(const char* portName);

// Opens "COM<n>" at the given speed and makes it the current port (a port still open is
// closed first). False when the name does not map to a device or the device cannot be opened.
LinkBool OpenCOM(const char* portName, std::int32_t speed = 115200);

// (3, 0): 8 data bits, no parity, 1 stop bit, no flow control. False with no current port.
LinkBool SetModeCOM(std::int32_t mode, std::int32_t flags);

// Closes the current port; harmless when none is open.
LinkBool CloseCOM();

// The number n of the port "COM<n>" that names the open device now; 0 when none is open (or no
// number names the open device any longer). The link owns the open device, not its number: a
// change of the port map renumbers it but never moves the link to another device.
std::int32_t CurrentPort();

// "COM<n>" of CurrentPort(); empty when none is open.
QString CurrentPortName();

// The device the link has open ("/dev/ttyUSB0"); empty when none is open.
QString CurrentDevice();

// Opens exactly this device (not a number that a settings change can move) at the given speed
// and makes it the current port; a port still open is closed first. False when it cannot be
// opened.
LinkBool OpenDevice(const QString& device, std::int32_t speed);

// Discards any input still waiting on the port (a late answer to an earlier request), then
// sends one frame. False with no current port, when length exceeds the 37 bytes of TxBuffer
// (nothing is sent), or when the port fails or has gone away. A port that failed stays failed:
// every later call on it returns false at once, until it is closed and opened again.
LinkBool TxFrame(std::uint8_t address, std::uint8_t command, std::uint8_t length,
                 const std::uint8_t* payload);

// Waits up to timeoutMs milliseconds (from the call until the last byte of the frame) for one
// frame with a good CRC and a payload of at most 41 bytes; garbage, false start bytes and bad
// frames are skipped. On success stores the reply's address, command and length through the
// pointers and its payload into buffer (at most 41 bytes are ever written). False on time-out,
// with no current port, or when the port fails or has gone away; then nothing is stored.
LinkBool RxFrame(std::int32_t timeoutMs, std::uint8_t* address, std::uint8_t* command,
                 std::uint8_t* length, std::uint8_t* buffer);
