#include "TelnetComPort.h"

#include <QStringList>

namespace {

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// COM-PORT-OPTION commands from the client; the box answers each with the same plus 100.
constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                       kSetControl = 5, kServerOffset = 100;
constexpr std::uint8_t kDataSize8 = 8, kParityNone = 1, kStopSize1 = 1, kNoFlowControl = 1;

void AppendCommand(std::vector<std::uint8_t>& out, std::uint8_t command,
                   std::initializer_list<std::uint8_t> value) {
    out.insert(out.end(), {IAC, SB, kComPort, command});
    for (const std::uint8_t b : value) {
        out.push_back(b);
        if (b == IAC)
            out.push_back(IAC);
    }
    out.insert(out.end(), {IAC, SE});
}

} // namespace

TelnetComPort::TelnetComPort(std::int32_t speed) : speed_(speed) {}

std::vector<std::uint8_t> TelnetComPort::Greeting() const {
    std::vector<std::uint8_t> out{IAC, WILL, kComPort, IAC, WILL, kBinary, IAC, DO, kBinary};
    const auto s = static_cast<std::uint32_t>(speed_);
    AppendCommand(out, kSetBaudRate,
                  {static_cast<std::uint8_t>(s >> 24), static_cast<std::uint8_t>(s >> 16),
                   static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s)});
    AppendCommand(out, kSetDataSize, {kDataSize8});
    AppendCommand(out, kSetParity, {kParityNone});
    AppendCommand(out, kSetStopSize, {kStopSize1});
    AppendCommand(out, kSetControl, {kNoFlowControl});
    return out;
}

std::vector<std::uint8_t> TelnetComPort::Escape(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out;
    out.reserve(data.size() + 4);
    for (const std::uint8_t b : data) {
        out.push_back(b);
        if (b == IAC)
            out.push_back(IAC);
    }
    return out;
}

void TelnetComPort::Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
                         std::vector<std::uint8_t>& reply) {
    // A subnegotiation longer than any this client reads is cut: its end is still found.
    constexpr std::size_t kMaxSub = 64;
    for (const std::uint8_t b : bytes) {
        switch (state_) {
        case State::Data:
            if (b == IAC)
                state_ = State::Command;
            else
                data.push_back(b);
            break;
        case State::Command:
            if (b == IAC) {
                data.push_back(IAC);
                state_ = State::Data;
            } else if (b == DO || b == DONT || b == WILL || b == WONT) {
                verb_ = b;
                spokeTelnet_ = true;
                state_ = State::Option;
            } else if (b == SB) {
                sub_.clear();
                spokeTelnet_ = true;
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, go-ahead and the like carry nothing for us
            }
            break;
        case State::Option:
            OnOption(verb_, b, reply);
            state_ = State::Data;
            break;
        case State::Sub:
            if (b == IAC)
                state_ = State::SubCommand;
            else if (sub_.size() < kMaxSub)
                sub_.push_back(b);
            break;
        case State::SubCommand:
            if (b == SE) {
                OnSubnegotiation();
                state_ = State::Data;
            } else {
                if (b == IAC && sub_.size() < kMaxSub)
                    sub_.push_back(IAC);
                state_ = State::Sub;
            }
            break;
        }
    }
}

void TelnetComPort::OnOption(std::uint8_t verb, std::uint8_t option,
                             std::vector<std::uint8_t>& reply) {
    // The client offered COM-PORT-OPTION and binary both ways in its greeting: an agreement
    // needs no answer. Suppressing go-ahead is harmless and agreed once; anything else (echo,
    // terminal type, ...) is refused, once per request, so that no loop can start.
    const bool ours = option == kComPort || option == kBinary;
    if (verb == DO) {
        if (option == kSuppressGoAhead && !willSga_) {
            willSga_ = true;
            reply.insert(reply.end(), {IAC, WILL, option});
        } else if (!ours && option != kSuppressGoAhead) {
            reply.insert(reply.end(), {IAC, WONT, option});
        }
    } else if (verb == WILL) {
        if (option == kSuppressGoAhead && !doSga_) {
            doSga_ = true;
            reply.insert(reply.end(), {IAC, DO, option});
        } else if (!ours && option != kSuppressGoAhead) {
            reply.insert(reply.end(), {IAC, DONT, option});
        }
    } else if (option == kComPort) {
        refused_ = true; // DONT or WONT COM-PORT-OPTION: the box keeps its own settings
    }
}

void TelnetComPort::OnSubnegotiation() {
    if (sub_.size() < 3 || sub_[0] != kComPort)
        return;
    const std::uint8_t command = sub_[1];
    const std::uint8_t value = sub_[2];
    switch (command) {
    case kServerOffset + kSetBaudRate:
        if (sub_.size() >= 6)
            speedSet_ = (std::uint32_t{sub_[2]} << 24) | (std::uint32_t{sub_[3]} << 16) |
                        (std::uint32_t{sub_[4]} << 8) | sub_[5];
        break;
    case kServerOffset + kSetDataSize:
        dataSizeSet_ = value;
        break;
    case kServerOffset + kSetParity:
        paritySet_ = value;
        break;
    case kServerOffset + kSetStopSize:
        stopSizeSet_ = value;
        break;
    case kServerOffset + kSetControl:
        controlSet_ = value;
        break;
    default:
        break; // line and modem state notices: nothing the link needs
    }
}

bool TelnetComPort::Settled() const {
    return refused_ || (speedSet_ && dataSizeSet_ && paritySet_ && stopSizeSet_ && controlSet_);
}

QString TelnetComPort::Deviations() const {
    if (refused_)
        return QStringLiteral("устройство не настраивает линию (RFC 2217 отклонён)");
    QStringList out;
    if (!speedSet_ || *speedSet_ != static_cast<std::uint32_t>(speed_))
        out << (speedSet_ ? QStringLiteral("скорость %1 вместо %2").arg(*speedSet_).arg(speed_)
                          : QStringLiteral("скорость не подтверждена"));
    if (!dataSizeSet_ || *dataSizeSet_ != kDataSize8)
        out << QStringLiteral("8 бит данных не подтверждены");
    if (!paritySet_ || *paritySet_ != kParityNone)
        out << QStringLiteral("без чётности не подтверждено");
    if (!stopSizeSet_ || *stopSizeSet_ != kStopSize1)
        out << QStringLiteral("1 стоп-бит не подтверждён");
    if (!controlSet_ || *controlSet_ != kNoFlowControl)
        out << QStringLiteral("без управления потоком не подтверждено");
    return out.join(QStringLiteral(", "));
}
