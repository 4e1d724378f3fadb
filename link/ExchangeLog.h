#pragma once

// The exchange log: every frame the link sends and receives, with time-outs and
// resynchronisations, one text line each, in a folder of its own. One file per day
// (exchange-YYYY-MM-DD-NNN.log); a file that would grow past the size limit is continued in the
// next number; only the newest files are kept. Lines are gathered and written in whole lines by
// a thread of the log's own, without a sync to disk, so that a paced download is not slowed:
// every line is in the file at most half a second after it was logged (at once when 64 KB are
// gathered), and at once after a time-out or a failed port, the lines that explain a failure.
//
// A folder that cannot be created or written turns the log off: it calls onFailure once, with
// the reason, and ignores everything after.

#include "FrameTrace.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// One line, without its line end: "01:02:03.456789 RX a=1 c=30 n=32 crc ok: 00 1F ...".
// microsOfDay is the local time of day in microseconds.
QByteArray FormatFrameLine(std::int64_t microsOfDay, const char* direction,
                           const TracedFrame& frame);
QByteArray FormatEventLine(std::int64_t microsOfDay, const QByteArray& text);

class ExchangeLog final : public FrameTrace {
public:
    static constexpr qint64 kDefaultMaxFileBytes = 10 * 1024 * 1024;
    static constexpr int kDefaultKeptFiles = 5;
    static constexpr int kRecentLines = 200;

    explicit ExchangeLog(QString folder, qint64 maxFileBytes = kDefaultMaxFileBytes,
                         int keptFiles = kDefaultKeptFiles);
    ~ExchangeLog() override; // writes what is buffered

    // Called from the link's thread or from the log's writer.
    std::function<void(const QString& reason)> onFailure;

    bool Failed() const { return failed_.load(); }
    QString Folder() const { return folder_; }
    // Writes what is buffered now.
    void Flush();
    // The newest lines, oldest first, at most kRecentLines.
    QStringList RecentLines() const;
    // Counts every line ever added, so a view can tell whether anything is new.
    quint64 LineCount() const { return lineCount_.load(); }

    void FrameSent(const TracedFrame& frame) override;
    void FrameReceived(const TracedFrame& frame) override;
    void BytesSkipped(std::size_t count) override;
    void ReplyTimedOut(int timeoutMs) override;
    void PortFailed() override;

private:
    void Add(QByteArray line);
    void FlushLocked();
    void WriteWhileIdle();
    bool OpenFileFor(const QString& day);
    void Fail(const QString& reason);
    void PruneOldFiles();

    QString folder_;
    qint64 maxFileBytes_;
    int keptFiles_;
    QFile file_;
    QString fileDay_;
    int fileNumber_ = 0;
    qint64 fileSize_ = 0; // written plus buffered
    QByteArray buffer_;
    std::deque<QByteArray> recent_;
    std::atomic<quint64> lineCount_ = 0;
    std::atomic<bool> failed_ = false;
    bool fileOpen_ = false;
    // Everything above but file_ is guarded by mutex_; file_ by fileMutex_, which is taken after
    // mutex_ when both are needed. The writer holds only fileMutex_ while it writes.
    mutable std::mutex mutex_;
    std::mutex fileMutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread writer_;
};
