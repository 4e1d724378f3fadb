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
                 int baud)
    : fd_(socket), controller_(controller), faults_(faults), journal_(journal), baud_(baud),
      decoder_(255), readBuffer_(64 * 1024) {
    timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
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
    // between them.
    std::vector<std::uint8_t> bytes;
    std::vector<kv::Frame> answers;
    Ns lastDue = 0;
    while (!queue_.empty() && queue_.front().due <= now) {
        Outgoing& out = queue_.front();
        bytes.insert(bytes.end(), out.bytes.begin(), out.bytes.end());
        answers.push_back(std::move(out.answer));
        lastDue = out.due;
        queue_.pop_front();
    }
    if (answers.empty())
        return;
    if (unsent_.size() + bytes.size() <= kMaxUnsentBytes) {
        unsent_.insert(unsent_.end(), bytes.begin(), bytes.end());
        for (const kv::Frame& answer : answers)
            journal_.Sent(answer);
        Flush();
    }
    if (baud_ > 0)
        credit_ = std::max<Ns>(0, Now() - lastDue);
}

void SimLoop::Flush() {
    std::size_t written = 0;
    while (written < unsent_.size()) {
        const ssize_t n =
            line_ ? ::write(fd_, unsent_.data() + written, unsent_.size() - written)
                  : ::send(fd_, unsent_.data() + written, unsent_.size() - written, MSG_NOSIGNAL);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            break; // the line is full: the rest goes when it has room again
        } else {
            unsent_.clear(); // the line failed: nothing of it can go out any more
            return;
        }
    }
    unsent_.erase(unsent_.begin(), unsent_.begin() + static_cast<std::ptrdiff_t>(written));
}

void SimLoop::ArmTimer() {
    if (queue_.empty() || armedFor_ == queue_.front().due)
        return;
    const Ns due = queue_.front().due;
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(due / kNsPerSecond);
    when.it_value.tv_nsec = static_cast<long>(due % kNsPerSecond);
    // Absolute deadlines: time spent in the loop never adds up across answers.
    timerfd_settime(timer_, TFD_TIMER_ABSTIME, &when, nullptr);
    armedFor_ = due;
}

} // namespace sim
