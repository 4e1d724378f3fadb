#include "SimLoop.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace sim {
namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
// How long after a late answer the answer to a request that came meanwhile leaves.
constexpr std::int64_t kAfterLateNs = 3'000'000;
// Answers a program has not read. Beyond this, a program that reads nothing loses new answers
// whole, as on a real line nobody reads.
constexpr std::size_t kMaxUnsentBytes = 1 << 20;

bool SameIdentity(const Identity& a, const Identity& b) {
    return a.address == b.address && a.serial == b.serial && a.comment == b.comment;
}

} // namespace

SimLoop::SimLoop(PseudoTerminal& line, SimController& controller, SimFaults& faults,
                 SimJournal& journal, int baud)
    : SimLoop(line.MasterFd(), controller, faults, journal, baud) {
    line_ = &line;
}

SimLoop::SimLoop(int socket, SimController& controller, SimFaults& faults, SimJournal& journal,
                 int baud, const ModemFraming* modem)
    : fd_(socket), controller_(controller), faults_(faults), journal_(journal), baud_(baud),
      modem_(modem), decoder_(255), readBuffer_(modem ? 1024 : 64 * 1024) {
    // A modem's requests are a few bytes at a time; a small buffer keeps thousands of them small.
    timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (modem && modem->heartbeatEveryNs > 0)
        nextHeartbeat_ = Now() + modem->heartbeatEveryNs;
}

SimLoop::~SimLoop() {
    if (timer_ >= 0)
        ::close(timer_);
}

SimLoop::Ns SimLoop::Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Ns>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

SimLoop::Ns SimLoop::LineTime(std::size_t bytes) const {
    if (baud_ <= 0)
        return 0;
    return static_cast<Ns>(bytes) * 10 * kNsPerSecond / baud_;
}

int SimLoop::Run(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask) {
    if (timer_ < 0) {
        std::perror("kv9000-sim: timerfd_create");
        return 1;
    }
    while (!stop) {
        SendDue(Now());
        SendHeartbeat(Now());
        if (closed_)
            break;
        ArmTimer();
        const short lineEvents = static_cast<short>(POLLIN | (unsent_.empty() ? 0 : POLLOUT));
        pollfd fds[2] = {{fd_, lineEvents, 0}, {timer_, POLLIN, 0}};
        if (ppoll(fds, 2, nullptr, &waitMask) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("kv9000-sim: ppoll");
            return 1;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t expirations = 0;
            if (::read(timer_, &expirations, sizeof expirations) < 0 && errno != EAGAIN)
                return 1;
            armedFor_ = -1;
        }
        if (fds[0].revents & POLLOUT)
            Flush();
        if (fds[0].revents & POLLIN) {
            if (!ReadRequests())
                return 1;
        } else if (!line_ && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            break; // the program closed the connection
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Cannot happen while our own slave descriptor is open; never spin on it.
            std::fprintf(stderr, "kv9000-sim: the pseudo-terminal failed\n");
            return 1;
        }
    }
    return 0;
}

bool SimLoop::ReadRequests() {
    const ssize_t n = ::read(fd_, readBuffer_.data(), readBuffer_.size());
    if (n < 0 && !line_ && errno == ECONNRESET) {
        closed_ = true;
        return true;
    }
    if (n < 0)
        return errno == EAGAIN || errno == EINTR;
    if (n == 0) {
        closed_ = !line_; // a connection the program closed
        return true;
    }
    const Ns arrival = Now();
    decoder_.Feed(std::span(readBuffer_.data(), static_cast<std::size_t>(n)));
    while (!closed_) {
        const auto request = decoder_.Next();
        if (!request)
            break;
        Handle(*request, arrival);
    }
    return true;
}

void SimLoop::Handle(const kv::Frame& request, Ns arrival) {
    const bool forUs = request.address == controller_.CurrentIdentity().address;
    const FaultDecision fault = forUs ? faults_.ForRequest(request) : FaultDecision{};
    journal_.Received(request, fault.Name());
    if (fault.die) {
        if (line_)
            line_->Close();
        else
            ::shutdown(fd_, SHUT_RDWR);
        closed_ = true;
        return;
    }

    // The request itself occupied the line. Lateness of our own last answer is not held against
    // the program, so that the pacing does not drift.
    const Ns start = baud_ > 0 ? std::max(arrival - credit_, lineFree_) : arrival;
    credit_ = 0;
    const Ns requestEnd =
        start + LineTime(kv::kFrameHeaderSize + request.payload.size() + kv::kFrameCrcSize);
    lineFree_ = std::max(lineFree_, requestEnd);
    if (fault.drop)
        return;

    const Identity before = controller_.CurrentIdentity();
    auto answer = controller_.Answer(request);
    if (!SameIdentity(before, controller_.CurrentIdentity()))
        journal_.WriteState(controller_.CurrentIdentity());
    if (!answer)
        return;
    if (fault.shortAnswer && answer->payload.size() > kShortAnswerBytes)
        answer->payload.resize(kShortAnswerBytes);

    const auto frame = kv::EncodeFrame(answer->address, answer->command, answer->payload);
    Outgoing out{0, faults_.NoiseBefore(frame), std::move(*answer), fault.late};
    out.frameAt = out.bytes.size();
    out.bytes.insert(out.bytes.end(), frame.begin(), frame.end());
    out.due = requestEnd + LineTime(out.bytes.size());
    if (fault.late)
        out.due = std::max(out.due, arrival + faults_.LateMs() * (kNsPerSecond / 1000));
    if (!queue_.empty()) {
        // A controller busy with a late answer takes the next request once that answer has
        // gone: its answer follows on its own, not in the same write.
        out.due = std::max(out.due, queue_.back().due + (queue_.back().late ? kAfterLateNs : 0));
    }
    lineFree_ = out.due;
    queue_.push_back(std::move(out));
}

void SimLoop::SendDue(Ns now) {
    // Answers due together leave in one write, back to back as on a real line, not with a gap
    // between them; a modem makes its own packets of each.
    std::vector<Packet> packets(1);
    std::vector<kv::Frame> answers;
    Ns lastDue = 0;
    while (!queue_.empty() && queue_.front().due <= now) {
        Outgoing& out = queue_.front();
        if (modem_) {
            for (Packet& packet : AnswerPackets(*modem_, out.bytes, out.frameAt))
                packets.push_back(std::move(packet));
        } else {
            packets.front().insert(packets.front().end(), out.bytes.begin(), out.bytes.end());
        }
        answers.push_back(std::move(out.answer));
        lastDue = out.due;
        queue_.pop_front();
    }
    if (answers.empty())
        return;
    std::size_t size = 0;
    for (const Packet& packet : packets)
        size += packet.size();
    if (unsentBytes_ + size <= kMaxUnsentBytes) {
        unsentBytes_ += size;
        for (Packet& packet : packets)
            if (!packet.empty())
                unsent_.push_back(std::move(packet));
        for (const kv::Frame& answer : answers)
            journal_.Sent(answer);
        Flush();
    }
    if (baud_ > 0)
        credit_ = std::max<Ns>(0, Now() - lastDue);
}

void SimLoop::SendHeartbeat(Ns now) {
    if (nextHeartbeat_ < 0 || now < nextHeartbeat_)
        return;
    // A frozen process does not make up for the heartbeats it missed: one, then on from now.
    nextHeartbeat_ = std::max(nextHeartbeat_ + modem_->heartbeatEveryNs, now + 1);
    Packet packet = HeartbeatPacket(*modem_);
    if (unsentBytes_ + packet.size() > kMaxUnsentBytes)
        return;
    unsentBytes_ += packet.size();
    unsent_.insert(unsent_.begin() + (sentOfFront_ > 0 ? 1 : 0), std::move(packet));
    Flush();
}

void SimLoop::Flush() {
    while (!unsent_.empty()) {
        const std::vector<std::uint8_t>& front = unsent_.front();
        const std::uint8_t* from = front.data() + sentOfFront_;
        const std::size_t left = front.size() - sentOfFront_;
        const ssize_t n = line_ ? ::write(fd_, from, left) : ::send(fd_, from, left, MSG_NOSIGNAL);
        if (n > 0) {
            sentOfFront_ += static_cast<std::size_t>(n);
            unsentBytes_ -= static_cast<std::size_t>(n);
            if (sentOfFront_ == front.size()) {
                unsent_.pop_front();
                sentOfFront_ = 0;
            }
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            break; // the line is full: the rest goes when it has room again
        } else {
            unsent_.clear(); // the line failed: nothing of it can go out any more
            sentOfFront_ = unsentBytes_ = 0;
            return;
        }
    }
}

void SimLoop::ArmTimer() {
    Ns due = queue_.empty() ? -1 : queue_.front().due;
    if (nextHeartbeat_ >= 0 && (due < 0 || nextHeartbeat_ < due))
        due = nextHeartbeat_;
    if (due < 0 || armedFor_ == due)
        return;
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(due / kNsPerSecond);
    when.it_value.tv_nsec = static_cast<long>(due % kNsPerSecond);
    // Absolute deadlines: time spent in the loop never adds up across answers.
    timerfd_settime(timer_, TFD_TIMER_ABSTIME, &when, nullptr);
    armedFor_ = due;
}

} // namespace sim
