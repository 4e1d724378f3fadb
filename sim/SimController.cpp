#include "SimController.h"

#include <utility>

namespace sim {
namespace {

// Request payload length of every command; anything else is malformed and stays unanswered.
std::optional<std::size_t> RequestLength(std::uint8_t command) {
    switch (static_cast<CommandCode>(command)) {
    case CommandCode::ReadIdentification:
    case CommandCode::ReadAddress:
    case CommandCode::ReadSerial:
    case CommandCode::ReadComment:
        return 0;
    case CommandCode::ChangeAddress:
        return 3;
    case CommandCode::WriteSerial:
        return 2;
    case CommandCode::WriteComment:
        return 32;
    case CommandCode::ReadFlash:
        return 5;
    default:
        return std::nullopt;
    }
}

QByteArray ZeroTerminated(const QByteArray& text) {
    QByteArray out = text.left(kMaxText);
    out.append('\0');
    return out;
}

} // namespace

SimController::SimController(Identity identity, QByteArray archive)
    : identity_(std::move(identity)), archive_(std::move(archive)) {}

SimController::SimController(Identity identity, std::function<QByteArray()> makeArchive)
    : identity_(std::move(identity)), makeArchive_(std::move(makeArchive)) {}

kv::Frame SimController::Reply(std::uint8_t command, QByteArray payload) const {
    kv::Frame f;
    f.address = identity_.address;
    f.command = command;
    f.payload.assign(payload.begin(), payload.end());
    return f;
}

std::optional<kv::Frame> SimController::Answer(const kv::Frame& request) {
    if (request.address != identity_.address)
        return std::nullopt;
    const auto expected = RequestLength(request.command);
    if (!expected || request.payload.size() != *expected)
        return std::nullopt;
    const auto& p = request.payload;

    switch (static_cast<CommandCode>(request.command)) {
    case CommandCode::ReadIdentification:
        return Reply(request.command, ZeroTerminated(identity_.identification));
    case CommandCode::ChangeAddress:
        if (p[0] != AddressChangeCode[0] || p[1] != AddressChangeCode[1])
            return std::nullopt;
        identity_.address = p[2];
        return Reply(request.command);
    case CommandCode::ReadAddress:
        return Reply(request.command, QByteArray(1, static_cast<char>(identity_.address)));
    case CommandCode::ReadSerial: {
        QByteArray serial(2, '\0');
        serial[0] = static_cast<char>(identity_.serial & 0xFF);
        serial[1] = static_cast<char>(identity_.serial >> 8);
        return Reply(request.command, serial);
    }
    case CommandCode::WriteSerial:
        identity_.serial = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
        return Reply(request.command);
    case CommandCode::ReadComment:
        return Reply(request.command, ZeroTerminated(identity_.comment));
    case CommandCode::WriteComment: {
        QByteArray text(reinterpret_cast<const char*>(p.data()), static_cast<qsizetype>(p.size()));
        const qsizetype zero = text.indexOf('\0');
        identity_.comment = zero >= 0 ? text.left(zero) : text.trimmed();
        return Reply(request.command);
    }
    case CommandCode::ReadFlash: {
        const std::uint32_t offset = static_cast<std::uint32_t>(p[0]) | (p[1] << 8) | (p[2] << 16) |
                                     (static_cast<std::uint32_t>(p[3]) << 24);
        const int count = p[4];
        if (count > kMaxFlashRead)
            return std::nullopt;
        if (makeArchive_) {
            archive_ = makeArchive_();
            makeArchive_ = nullptr;
        }
        const auto size = static_cast<std::uint32_t>(archive_.size());
        if (offset >= size)
            return Reply(request.command);
        const auto n = std::min<std::uint32_t>(static_cast<std::uint32_t>(count), size - offset);
        kv::Frame reply = Reply(request.command, archive_.mid(static_cast<qsizetype>(offset),
                                                              static_cast<qsizetype>(n)));
        if (after_ && offset + n == size) {
            identity_.serial = after_->serial;
            identity_.identification = after_->identification;
            after_.reset();
        }
        return reply;
    }
    default:
        return std::nullopt;
    }
}

} // namespace sim
