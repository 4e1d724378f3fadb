#pragma once

// The byte stream of a modem that called in ("dialin:ID"): the call the dial-in listener holds,
// borrowed over the local channel (DialinChannel.h). The listener has already taken the modem's
// heartbeats and registrations out of what it passes on, so the stream carries the controller's
// answers only. Opening fails with "регулятор не на связи (…)" when the modem has not called or
// no listener runs, and as busy when another reader has the call.

#include "SerialTransport.h"

#include <memory>

// How long the listener may take to answer a borrower.
constexpr int DialinAnswerTimeoutMs = 2000;

// A new, unopened stream for "dialin:ID"; while open it holds the device (DeviceHold.h) with lock
// files in holdFolder, as a box on the network is held.
std::unique_ptr<SerialTransport> MakeDialinTransport(const QString& holdFolder = {});
