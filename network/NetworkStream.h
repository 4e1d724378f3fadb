#pragma once

// What a byte stream over the network has beside what every stream has (SerialTransport): the
// box is connected to, which takes a while and can be refused, and a reply crosses the network
// and back, which can make it late. A serial port has none of it; a link asks its stream whether
// it is one (dynamic_cast).

#include <QString>

#include <optional>

class NetworkStream {
public:
    virtual ~NetworkStream() = default;

    // Waits that last long (connecting to a box far away) let the calling thread's events run,
    // so that a window on that thread stays responsive. Set before Open.
    virtual void SetResponsive(bool responsive) = 0;
    // The round trip measured on opening, in milliseconds; none before the stream opened.
    virtual std::optional<int> RoundTripMs() const = 0;
    // Why the last Open failed, in plain Russian, when the stream knows more than "it did not
    // open" (a name that does not resolve, a refused connection); empty otherwise.
    virtual QString OpenFailure() const = 0;
    // The last Open failed because another reader of this machine holds the device (a box on
    // the network a collection or another program reads); OpenFailure() says who.
    virtual bool OpenBusy() const = 0;
    // What opening found worth saying once (a setting the box did not take); empty otherwise.
    virtual QString OpenNotice() const = 0;
    // Where the device was reached when its name does not say it (the address a modem called in
    // from, "203.0.113.7:51234"); empty for a box named by its own address.
    virtual QString ReachedVia() const { return {}; }
    // The link's wait for an answer ran out (even if bytes came meanwhile): the answer may still
    // come, within mayStillComeMs by the link's measure of the network.
    virtual void AnswerMissed(int mayStillComeMs) = 0;
};
