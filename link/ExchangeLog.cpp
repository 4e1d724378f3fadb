#include "ExchangeLog.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QTime>

#include <algorithm>
#include <utility>

namespace {

constexpr qsizetype kWriteChunk = 64 * 1024;
// Lines that keep coming are gathered this long and written together.
constexpr auto kWriteDelay = std::chrono::milliseconds(500);

struct Now {
    QString day;              // YYYY-MM-DD, local
    std::int64_t microsOfDay; // local
};

Now LocalNow() {
    const auto now = std::chrono::system_clock::now();
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    // Qt's local time, the same on every platform.
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(micros / 1000);
    const QTime time = local.time();
    const std::int64_t ofDay =
        (static_cast<std::int64_t>(time.hour()) * 3600 + time.minute() * 60 + time.second()) *
            1'000'000 +
        micros % 1'000'000;
    return {local.date().toString(Qt::ISODate), ofDay};
}

QByteArray TimeOfDay(std::int64_t micros) {
    const std::int64_t s = micros / 1'000'000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60),
                  static_cast<int>(micros % 1'000'000));
    return QByteArray(text);
}

QString FileName(const QString& day, int number) {
    return QStringLiteral("exchange-%1-%2.log").arg(day).arg(number, 3, 10, QChar('0'));
}

} // namespace

QByteArray FormatFrameLine(std::int64_t microsOfDay, const char* direction,
                           const TracedFrame& frame) {
    QByteArray line = TimeOfDay(microsOfDay);
    line += ' ';
    line += direction;
    line += " a=" + QByteArray::number(frame.address) + " c=" + QByteArray::number(frame.command) +
            " n=" + QByteArray::number(frame.length);
    if (frame.oversized)
        return line + " length too large, dropped";
    line += frame.crcGood ? " crc ok" : " crc BAD, dropped";
    if (!frame.payload.empty()) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        line.reserve(line.size() + 1 + 3 * static_cast<qsizetype>(frame.payload.size()));
        line += ':';
        for (std::uint8_t b : frame.payload) {
            const char digits[3] = {' ', kHex[b >> 4], kHex[b & 0x0F]};
            line.append(digits, 3);
        }
    }
    return line;
}

QByteArray FormatEventLine(std::int64_t microsOfDay, const QByteArray& text) {
    return TimeOfDay(microsOfDay) + " -- " + text;
}

ExchangeLog::ExchangeLog(QString folder, qint64 maxFileBytes, int keptFiles)
    : folder_(std::move(folder)), maxFileBytes_(std::max<qint64>(maxFileBytes, 1)),
      keptFiles_(std::max(keptFiles, 1)), writer_([this] { WriteWhileIdle(); }) {}

ExchangeLog::~ExchangeLog() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    writer_.join();
    Flush();
}

void ExchangeLog::WriteWhileIdle() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait(lock, [this] { return stopping_ || !buffer_.isEmpty(); });
        if (stopping_)
            break;
        // The first line waits a moment for the lines that follow it, then all go together.
        wake_.wait_for(lock, kWriteDelay, [this] { return stopping_; });
        if (failed_ || buffer_.isEmpty() || !fileOpen_)
            continue;
        // The lines are written without holding up the link, which may log on meanwhile; the file
        // is taken before the state is let go, so that it cannot change under the write.
        const QByteArray lines = std::exchange(buffer_, QByteArray());
        std::unique_lock fileLock(fileMutex_);
        lock.unlock();
        const bool written = file_.write(lines) == lines.size();
        const QString name = file_.fileName();
        fileLock.unlock();
        lock.lock();
        if (!written)
            Fail(QStringLiteral("не удаётся записать файл %1").arg(name));
    }
}

void ExchangeLog::Fail(const QString& reason) {
    if (failed_)
        return;
    failed_ = true;
    buffer_.clear();
    fileOpen_ = false; // the file itself is closed with the log
    if (onFailure)
        onFailure(reason);
}

bool ExchangeLog::OpenFileFor(const QString& day) {
    if (!QDir().mkpath(folder_)) {
        Fail(QStringLiteral("не удаётся создать папку %1").arg(folder_));
        return false;
    }
    const std::lock_guard fileLock(fileMutex_);
    fileOpen_ = false;
    file_.close();
    if (day != fileDay_) {
        // Continue the day's newest file after a restart.
        const QStringList today = QDir(folder_).entryList(
            {QStringLiteral("exchange-%1-*.log").arg(day)}, QDir::Files, QDir::Name);
        fileNumber_ =
            today.isEmpty() ? 1 : today.last().section('-', 4, 4).section('.', 0, 0).toInt();
        fileNumber_ = std::max(fileNumber_, 1);
        fileDay_ = day;
    } else {
        ++fileNumber_;
    }
    file_.setFileName(QDir(folder_).filePath(FileName(day, fileNumber_)));
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        Fail(QStringLiteral("не удаётся записать файл %1").arg(file_.fileName()));
        return false;
    }
    fileSize_ = file_.size();
    fileOpen_ = true;
    PruneOldFiles();
    return true;
}

void ExchangeLog::PruneOldFiles() {
    // The names sort by day, then number: the oldest come first.
    QDir dir(folder_);
    const QStringList all =
        dir.entryList({QStringLiteral("exchange-*.log")}, QDir::Files, QDir::Name);
    for (qsizetype i = 0; i + keptFiles_ < all.size(); ++i)
        dir.remove(all[i]);
}

void ExchangeLog::Flush() {
    const std::lock_guard lock(mutex_);
    FlushLocked();
}

void ExchangeLog::FlushLocked() {
    if (failed_ || buffer_.isEmpty() || !fileOpen_)
        return;
    // Waits for a write of the writer still under way: lines reach the file in their order.
    const std::lock_guard fileLock(fileMutex_);
    if (file_.write(buffer_) != buffer_.size()) {
        Fail(QStringLiteral("не удаётся записать файл %1").arg(file_.fileName()));
        return;
    }
    buffer_.clear();
}

void ExchangeLog::Add(QByteArray line) {
    const std::lock_guard lock(mutex_);
    if (failed_)
        return;
    ++lineCount_;
    recent_.push_back(line);
    if (recent_.size() > static_cast<std::size_t>(kRecentLines))
        recent_.pop_front();

    line += '\n';
    const QString day = LocalNow().day;
    if (!fileOpen_ || day != fileDay_) {
        FlushLocked();
        if (failed_ || !OpenFileFor(day))
            return;
    }
    // A line never straddles two files: what is buffered goes to the old one first. An empty
    // file takes the line even when the line alone exceeds the limit.
    if (fileSize_ > 0 && fileSize_ + line.size() > maxFileBytes_) {
        FlushLocked();
        if (failed_ || !OpenFileFor(day))
            return;
    }
    const bool wasEmpty = buffer_.isEmpty();
    buffer_ += line;
    fileSize_ += line.size();
    if (buffer_.size() >= kWriteChunk)
        FlushLocked();
    else if (wasEmpty)
        wake_.notify_one();
}

QStringList ExchangeLog::RecentLines() const {
    const std::lock_guard lock(mutex_);
    QStringList out;
    out.reserve(static_cast<qsizetype>(recent_.size()));
    for (const QByteArray& line : recent_)
        out << QString::fromLatin1(line);
    return out;
}

void ExchangeLog::FrameSent(const TracedFrame& frame) {
    Add(FormatFrameLine(LocalNow().microsOfDay, "TX", frame));
}

void ExchangeLog::FrameReceived(const TracedFrame& frame) {
    Add(FormatFrameLine(LocalNow().microsOfDay, "RX", frame));
}

void ExchangeLog::BytesSkipped(std::size_t count) {
    Add(FormatEventLine(LocalNow().microsOfDay,
                        "resynchronisation: " + QByteArray::number(static_cast<qulonglong>(count)) +
                            " bytes skipped"));
}

// A failure: what led to it goes to the file now, before the program may be ended.
void ExchangeLog::ReplyTimedOut(int timeoutMs) {
    Add(FormatEventLine(LocalNow().microsOfDay,
                        "time-out: no answer in " + QByteArray::number(timeoutMs) + " ms"));
    Flush();
}

void ExchangeLog::PortFailed() {
    Add(FormatEventLine(LocalNow().microsOfDay, "port failed or gone"));
    Flush();
}
