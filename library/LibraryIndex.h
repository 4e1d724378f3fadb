#pragma once

// The library of every visit: an index over the kept archive files (.kvarc) that joins each
// controller's downloads into one history. The files stay the primary data and are never
// written here; the index can be rebuilt from them at any time (Rebuild).
//
// The index is an SQLite database (docs/library.md) in WAL mode with a busy time-out, so that
// two program instances at once lose nothing. One object is one connection and is used from the
// thread that created it; a thread of its own opens its own object on the same file.
//
// A controller's history is keyed by its serial number AND its channel count: a visit with
// another channel count under a known serial number (a one-channel controller given the number of
// a two-channel one) starts a history of its own, never merged. Per history and channel it holds
// every valid record of every visit once per record time; records of the same time with other
// contents (a clock set back, a replaced controller given the same serial number) are kept apart
// and counted as conflicts.
//
// How the library (library/) reports a failure: as the cause in plain Russian words, an empty
// text meaning success (Open, AddKeptDownload); a function that also gives a value returns it in
// a result that carries that text (AddResult, IndexReport, IndexRead). A failure is never an
// empty list or a missing value alone: a caller can always tell "none" from "could not". The
// causes name what the user can do: a damaged index names the command that rebuilds it, a full
// disk says that the disk is full, a read-only folder says so. Nothing throws out of library/.

#include "ChartSeries.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

// What was read from the index: the value (a list, an optional), or the cause it could not be
// read in error. It is the value itself, so that a caller that only lists keeps working; a caller
// that must tell "none" from "could not" looks at error first (set: the value is no answer).
template <typename Value> struct IndexRead : Value {
    QString error;
    bool Failed() const { return !error.isEmpty(); }
};

// One controller of the library (a serial number with one channel count), for the list and for
// `kv9000 --library`.
struct LibraryController {
    int serial = 0;
    int channels = 0;       // 1 or 2: with the serial number, what the history is of
    QString place;          // installation-place comment of the newest visit
    QString identification; // of the newest visit
    int visits = 0;
    std::optional<qint64> first, last; // oldest and newest record time (wall time as UTC, s)
    qint64 records = 0;                // distinct record times summed over the channels
    qint64 conflicts = 0;              // records whose time repeats with other contents
    qint64 lostSeconds = 0; // records overwritten before any visit read them, summed over visits
    QDateTime lastVisit;    // download time of the newest visit
};

// One visit (download) of a controller.
struct LibraryVisit {
    qint64 id = 0;
    int serial = 0;
    QString file; // the archive file, absolute
    QDateTime downloadedAt;
    int channels = 0;
    QString identification, place, port;
    qint64 records = 0; // valid records with a real time, summed over the channels
    std::optional<qint64> oldest, newest; // over the channels
    qint64 lostSeconds = 0;               // overwritten between the visit before it and this one
    bool settingsChanged = false; // its settings blocks differ from those of the visit before
    QByteArray sha256;            // of the archive image
};

enum class AddOutcome { Added, AlreadyThere, Refused };

struct AddResult {
    AddOutcome outcome = AddOutcome::Refused;
    QString error;     // the cause when refused
    int serial = 0;    // when added or already there
    QByteArray sha256; // when read
    QString file;      // when added or already there: the file the index has for it
};

// What a batch of files did: counts, and each refused file with its cause.
struct IndexReport {
    int added = 0;
    int alreadyThere = 0;
    int restored = 0; // of alreadyThere: the indexed file was gone and is kept again
    struct Refusal {
        QString path;
        QString cause;
    };
    std::vector<Refusal> refused;
    QStringList addedFiles; // where the added files lie (after a copy: the copy)
};

class LibraryIndex {
public:
    LibraryIndex();
    ~LibraryIndex();
    LibraryIndex(const LibraryIndex&) = delete;
    LibraryIndex& operator=(const LibraryIndex&) = delete;

    // Opens (or creates, with its folder) the index at path. Returns the cause of a refusal: a
    // damaged file or a foreign database, a newer schema; such a file is never written. An index
    // that cannot be written (a read-only folder or file) is opened for reading: it lists, and
    // every write is refused with that cause.
    QString Open(const QString& path);
    bool IsOpen() const;
    bool IsReadOnly() const;
    QString Path() const;
    // The name of the Qt SQL connection (for tests that set SQLite limits on it).
    QString ConnectionName() const;

    // Indexes the archive file at path where it lies. A file whose image is already indexed is
    // AlreadyThere (its recorded place moves here when the old file is gone). Refused: a file
    // that does not read as an archive file, a raw image or a download without a serial number,
    // a database failure (a full disk): the file's transaction is rolled back whole.
    AddResult AddFile(const QString& path);

    // Adds files and folders of them (every *.kvarc below a folder) into the archives folder:
    // a file not yet indexed is kept there as a download is (KeepArchiveFile: never replacing a
    // file, however many imports run at once), unless it already lies below that folder, and
    // indexed. A known download whose indexed file is gone is kept again and its row mended
    // (restored). Refused files are reported with their cause (a name that is not UTF-8 too) and
    // the rest goes on; a copy whose indexing failed is taken back. A damaged index refuses
    // everything before anything is copied.
    IndexReport Import(const QStringList& paths, const QString& archivesFolder);

    // Indexes every *.kvarc below folder not yet indexed under its path (the first start, and
    // files kept while the index could not be written). Damaged or foreign files are skipped and
    // reported; the rest goes on. A stop flag set meanwhile ends it after the current file.
    IndexReport CatchUp(const QString& folder, const std::atomic<bool>* stop = nullptr);

    // Every controller (serial number and channel count), by serial number, then channel count.
    IndexRead<std::vector<LibraryController>> Controllers() const;
    // A controller's visits, oldest first. channels 0: every visit of the serial number, of any
    // channel count.
    IndexRead<std::vector<LibraryVisit>> Visits(int serial, int channels = 0) const;
    // Each controller's newest visit, as Visits(serial, channels).back() gives it, in one query:
    // only id, serial, channels, file, downloadedAt and newest are set. By serial number, then
    // channel count.
    IndexRead<std::vector<LibraryVisit>> NewestVisits() const;
    IndexRead<std::optional<LibraryVisit>> VisitBySha(const QByteArray& sha256) const;
    IndexRead<QStringList> KnownSha256() const; // hex, of every indexed image

    // A controller's merged history as chart series, one per channel (1..2; a channel without
    // records gives an empty series). channels 0: the channel count of its newest visit.
    IndexRead<std::vector<ChannelSeries>> History(int serial, int channels = 0) const;

    // Reads every page of the index (SQLite's quick check): the cause when it is damaged (naming
    // the command that rebuilds it), or an empty text.
    QString CheckWhole() const;

    // The last database failure, for messages.
    QString LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Rebuilds the index at path from every archive file below archivesFolder: a fresh index is
// written beside it and put in its place when complete. An old index that does not open or fails
// the quick check (damaged anywhere, or of a newer version) is kept as path + ".damaged-<time>";
// it is never overwritten. One rebuild at a time: while another runs (its lock file
// path + ".rebuild.lock"), error says so and nothing is touched. The report says what was
// indexed; error is set when no fresh index could be written.
IndexReport RebuildLibraryIndex(const QString& path, const QString& archivesFolder, QString& error);

// Adds a download just kept as the archive file at file to the index at indexPath, on the
// calling thread (a saver's, never the window's) through a connection of its own. Returns the
// cause of a failure, or an empty text; a failure loses nothing, as the next catch-up indexes the
// file.
QString AddKeptDownload(const QString& indexPath, const QString& file);
