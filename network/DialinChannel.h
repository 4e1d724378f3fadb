#pragma once

// The local channel between the dial-in listener (kv9000 --listen), which holds the calls of the
// modems that called in, and the program's other processes of the same user, which borrow a
// held call to read its controller. A socket in the user's runtime folder that only the user can
// open (a named pipe with the user's access list on Windows); nothing of it crosses the network.
//
// A borrower sends one line, "CALL <ID>\n" (the modem's name as the fleet list writes it after
// "dialin:"), and reads one answer line:
//   "OK <address the modem called from> <round trip ms>\n"  then the call's bytes both ways,
//                                                            until either side closes
//   "AWAY <time of the last call, ISO 8601 UTC, or ->\n"    the modem is not on the line
//   "BUSY\n"                                                 another borrower has the call
//   "UNKNOWN\n"                                              the listener holds no such modem
// A call goes back to being held when its borrower closes the channel.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// The channel's name for QLocalServer / QLocalSocket: "$XDG_RUNTIME_DIR/kv9000-dialin" (the
// temporary folder's "kv9000-<user>" when the runtime folder is unset); on Windows a pipe name
// of the user's own.
QString DialinChannelName();

// The borrower's request line for a modem's ID.
QByteArray DialinRequest(const QString& id);
// The ID of a request line (without its newline): printable ASCII without blanks; nothing when
// the line is none.
std::optional<QString> ParseDialinRequest(const QByteArray& line);

enum class DialinAnswerKind { Ok, Away, Busy, Unknown };

struct DialinAnswer {
    DialinAnswerKind kind = DialinAnswerKind::Unknown;
    QString peer;        // Ok: "203.0.113.7:51234"
    int roundTripMs = 0; // Ok: the call's round trip as the listener's system measures it
    QDateTime lastCall;  // Away: invalid when the modem never called
};

QByteArray FormatDialinAnswer(const DialinAnswer& answer);
// Nothing when the line is no answer.
std::optional<DialinAnswer> ParseDialinAnswer(const QByteArray& line);

// The longest line either side sends on the channel before the call's bytes.
constexpr int MaxDialinLine = 256;
