#pragma once

// The client's side of RFC 2217 over one TCP connection, as pure functions of bytes: the
// greeting that asks the box for the line's settings, the escaping of data bytes (0xFF is sent
// doubled), and a decoder that takes the box's bytes apart into the serial line's data, the
// answers telnet wants to the box's option requests, and the settings the box says it applied.
// Written here because no library the project builds on speaks it; the protocol is small.

#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class TelnetComPort {
public:
    // The line as the controller wants it: this speed, 8 data bits, no parity, 1 stop bit, no
    // flow control.
    explicit TelnetComPort(std::int32_t speed);

    // What the client sends first: it will speak COM-PORT-OPTION and binary both ways, and asks
    // for each of the line's settings.
    std::vector<std::uint8_t> Greeting() const;

    // The data bytes as they go on the connection.
    static std::vector<std::uint8_t> Escape(std::span<const std::uint8_t> data);

    // Takes the next bytes from the box (cut anywhere): appends the line's data to `data` and
    // what the client must send back (refusals of options it does not speak) to `reply`.
    void Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
              std::vector<std::uint8_t>& reply);

    // Every setting asked for has been answered, or the box refused COM-PORT-OPTION.
    bool Settled() const;
    // The box has answered at least one of the settings asked for: the earliest moment that
    // proves the greeting reached it (its own greeting comes unasked).
    bool AnySettingAnswered() const {
        return speedSet_ || dataSizeSet_ || paritySet_ || stopSizeSet_ || controlSet_;
    }
    // The box has sent at least one telnet command (an option, a subnegotiation): it speaks
    // telnet. A box that never does passes bytes as they are, and is no RFC 2217 box.
    bool SpokeTelnet() const { return spokeTelnet_; }
    // The box said it will not take the line's settings (WONT/DONT COM-PORT-OPTION).
    bool Refused() const { return refused_; }
    // What the box did not set as asked, in plain Russian ("скорость 9600 вместо 115200");
    // empty when every setting was answered as asked. Meaningful once Settled().
    QString Deviations() const;

private:
    enum class State { Data, Command, Option, Sub, SubCommand };
    void OnOption(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& reply);
    void OnSubnegotiation();

    std::int32_t speed_;
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::vector<std::uint8_t> sub_; // the subnegotiation's bytes after IAC SB
    bool refused_ = false;
    bool spokeTelnet_ = false;
    std::optional<std::uint32_t> speedSet_;
    std::optional<std::uint8_t> dataSizeSet_, paritySet_, stopSizeSet_, controlSet_;
    // Options the client agreed to (so that a repeated request is not answered twice).
    bool willSga_ = false, doSga_ = false;
};
