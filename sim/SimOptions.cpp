#include "SimOptions.h"

#include "SimHistory.h"

#include <QCommandLineParser>

#include <type_traits>

namespace sim {

QString DefaultIdentification(int channels) {
    // The letter after "К" is a Latin B, as the program's identification prefix expects.
    return channels == 1 ? QStringLiteral("Лорк КB-9000Л вер. 1.07")
                         : QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");
}

std::optional<std::set<int>> ParseNumberList(const QString& text) {
    std::set<int> out;
    for (const QString& item : text.split(',', Qt::SkipEmptyParts)) {
        const QStringList range = item.trimmed().split('-');
        bool ok1 = false, ok2 = false;
        const int from = range.value(0).toInt(&ok1);
        const int to = range.size() == 2 ? range[1].toInt(&ok2) : from;
        if (!ok1 || (range.size() == 2 && !ok2) || range.size() > 2 || from < 1 || to < from ||
            to - from > 1'000'000)
            return std::nullopt;
        for (int n = from; n <= to; ++n)
            out.insert(n);
    }
    if (out.empty())
        return std::nullopt;
    return out;
}

namespace {

// The simulator's options and the parser that reads them. Each Read step fills the options from
// what was parsed, or puts the reason into error and returns false.
struct Reader {
    QCommandLineParser p;
    QString& error;
    const QCommandLineOption channels{"channels", "Channel count, 1 or 2.", "N"};
    const QCommandLineOption address{"address", "Network address, 0 to 255.", "N"};
    const QCommandLineOption serial{"serial", "Serial number, 0 to 65535.", "N"};
    const QCommandLineOption comment{"comment", "Installation-place comment.", "TEXT"};
    const QCommandLineOption id{"id", "Identification text.", "TEXT"};
    const QCommandLineOption image{"image", "A 0x42000-byte archive to serve.", "FILE"};
    const QCommandLineOption baud{"baud", "Pace answers as a line of N bit/s.", "N"};
    const QCommandLineOption drop{"drop", "Flash reads left unanswered.", "LIST"};
    const QCommandLineOption shortReads{"short", "Flash reads answered with 16 bytes.", "LIST"};
    const QCommandLineOption late{"late", "Flash reads answered late (--late-ms).", "LIST"};
    const QCommandLineOption lateMs{"late-ms", "How late --late answers are (default 300).", "MS"};
    const QCommandLineOption dropEvery{"drop-every", "Leave every Kth request unanswered.", "K"};
    const QCommandLineOption garbage{"garbage", "Noise and false frames before answers."};
    const QCommandLineOption dieAfter{"die-after", "The Nth flash read closes the line.", "N"};
    const QCommandLineOption log{"log", "JSON line per request and answer.", "FILE"};
    const QCommandLineOption state{"state-file", "Identity as JSON.", "FILE"};
    const QCommandLineOption at{"at", "Serve the seeded history as it is at this time.",
                                "YYYY-MM-DD[THH:MM]"};
    const QCommandLineOption historySeed{"history-seed",
                                         "Seed of the history (default: the serial number).", "N"};
    const QCommandLineOption thenSerial{
        "then-serial", "After the archive's last block is read, answer with this serial number.",
        "N"};
    const QCommandLineOption thenId{
        "then-id", "After the archive's last block is read, answer with this identification.",
        "TEXT"};
    const QCommandLineOption tcp{"tcp", "Serve on TCP ports from HOST:PORT, not a pseudo-terminal.",
                                 "HOST:PORT"};
    const QCommandLineOption fleet{
        "fleet",
        "With --tcp: N controllers on N consecutive ports (up to 1000); with --dialin: N modems "
        "(up to 5000). Serials from --serial on.",
        "N"};
    const QCommandLineOption dialin{
        "dialin", "Call HOST:PORT as a cellular modem does, not serve a pseudo-terminal.",
        "HOST:PORT"};
    const QCommandLineOption registration{
        "registration", "With --dialin: the modem's registration, TEXT or hex:0A1B2C.", "REG"};
    const QCommandLineOption heartbeat{
        "heartbeat", "With --dialin: a heartbeat every SECONDS (0.5 allowed; default none).",
        "SECONDS"};
    const QCommandLineOption heartbeatBytes{
        "heartbeat-bytes", "With --dialin: the heartbeat, TEXT or hex:0A1B2C (default KVHB).",
        "BYTES"};
    const QCommandLineOption heartbeatInside{
        "heartbeat-inside",
        "With --dialin: every answer frame in two writes, a heartbeat between."};
    const QCommandLineOption registrationEvery{
        "registration-every-packet", "With --dialin: every write starts with the registration."};
    const QCommandLineOption packetBytes{
        "packet-bytes", "With --dialin: answers in writes of at most N bytes.", "N"};
    const QCommandLineOption redial{
        "redial", "With --dialin: call again 0 to SECONDS after a call drops (default 5).",
        "SECONDS"};
    QCommandLineOption help{"help"}; // the parser's own, from the constructor
    const QCommandLineOption clean{"clean", "A generated archive without a power cut or -3000."};
    // Faults planted into the archive served, each option as often as wanted.
    std::vector<std::pair<PlantedKind, QCommandLineOption>> plantOptions;

    explicit Reader(QString& error) : error(error) {
        p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        p.setApplicationDescription(
            "A simulated controller on a pseudo-terminal; prints the device path, then serves.\n"
            "Planted faults: CH is the channel (1 or 2), START the controller's time as "
            "2023-12-01T06:00, HOURS the length; each option may be given many times.");
        p.addOptions({channels,   address, serial,      comment, id,       image, baud,  drop,
                      shortReads, late,    dropEvery,   garbage, dieAfter, log,   state, thenSerial,
                      thenId,     at,      historySeed, tcp,     fleet,    lateMs});
        p.addOptions({dialin, registration, heartbeat, heartbeatBytes, heartbeatInside,
                      registrationEvery, packetBytes, redial});
        help = p.addHelpOption();
        p.addOption(clean);
        for (const PlantedOption& po : PlantedOptions()) {
            plantOptions.emplace_back(
                po.kind, QCommandLineOption(po.name, po.help, "CH,START,HOURS[,EXTRA]"));
            p.addOption(plantOptions.back().second);
        }
    }

    bool Number(const QCommandLineOption& opt, int lo, int hi, int& into) {
        return Ranged(opt, lo, hi, into, "a number");
    }

    bool Seconds(const QCommandLineOption& opt, double lo, double hi, double& into) {
        return Ranged(opt, lo, hi, into, "seconds");
    }

    // The option's value from lo to hi into `into` (left as it is when the option is not given);
    // false with the usage error otherwise.
    template <typename T>
    bool Ranged(const QCommandLineOption& opt, T lo, T hi, T& into, const char* what) {
        if (!p.isSet(opt))
            return true;
        bool ok = false;
        const T v = std::is_integral_v<T> ? static_cast<T>(p.value(opt).toInt(&ok))
                                          : static_cast<T>(p.value(opt).toDouble(&ok));
        if (!ok || !(v >= lo && v <= hi)) {
            error = QString("--%1 wants %2 from %3 to %4")
                        .arg(opt.names().first(), QLatin1String(what))
                        .arg(lo)
                        .arg(hi);
            return false;
        }
        into = v;
        return true;
    }

    bool List(const QCommandLineOption& opt, std::set<int>& into) {
        if (!p.isSet(opt))
            return true;
        const auto parsed = ParseNumberList(p.value(opt));
        if (!parsed) {
            error = QString("--%1 wants a list like 1,5,10-12").arg(opt.names().first());
            return false;
        }
        into = *parsed;
        return true;
    }

    // The controller's numbers, the line's faults and the moved cable.
    bool ReadNumbers(SimOptions& o) {
        if (!Number(channels, 1, 2, o.channels) || !Number(address, 0, 255, o.address) ||
            !Number(serial, 0, 65535, o.serial) || !Number(baud, 1, 100'000'000, o.baud) ||
            !Number(dropEvery, 1, 1'000'000'000, o.faults.dropEvery) ||
            !Number(dieAfter, 1, 1'000'000'000, o.faults.dieAfter) || !List(drop, o.faults.drop) ||
            !List(shortReads, o.faults.shortReads) || !List(late, o.faults.late) ||
            !Number(lateMs, 1, 60'000, o.faults.lateMs))
            return false;
        if (p.isSet(thenSerial)) {
            int value = 0;
            if (!Number(thenSerial, 0, 65535, value))
                return false;
            o.thenSerial = value;
        }
        if (p.isSet(thenId))
            o.thenIdentification = p.value(thenId);
        return true;
    }

    // --at: a moment of the seeded history, never before it starts, never with --image.
    bool ReadAt(SimOptions& o) {
        if (!p.isSet(at))
            return true;
        const QString text = p.value(at);
        QDateTime when = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm"));
        if (!when.isValid())
            when = QDateTime(QDate::fromString(text, QStringLiteral("yyyy-MM-dd")), QTime(0, 0));
        when = QDateTime(when.date(), when.time(), Qt::UTC); // the controller's wall clock
        if (!when.isValid() || when < HistoryStart()) {
            error = QStringLiteral("--at wants YYYY-MM-DD or YYYY-MM-DDTHH:MM from %1 on")
                        .arg(HistoryStart().toString(QStringLiteral("yyyy-MM-dd")));
            return false;
        }
        if (p.isSet(image)) {
            error = QStringLiteral("--at and --image exclude each other");
            return false;
        }
        o.at = when;
        return true;
    }

    // The planted faults, in the order of their options, then of their values.
    bool ReadPlanted(SimOptions& o) {
        for (const auto& [kind, opt] : plantOptions)
            for (const QString& value : p.values(opt)) {
                // --clock-back DAYS (a number alone): the history's clock was set back that many
                // days a day before --at.
                bool days = false;
                const int back = value.toInt(&days);
                if (kind == PlantedKind::ClockBack && days) {
                    if (back < 1 || back > 3650 || !o.at) {
                        error = QStringLiteral("--clock-back DAYS wants 1 to 3650 days and --at");
                        return false;
                    }
                    o.clockBackDays = back;
                    continue;
                }
                QString why;
                const auto fault = ParsePlantedFault(kind, value, why);
                if (!fault) {
                    error = QString("--%1 %2").arg(opt.names().first(), why);
                    return false;
                }
                o.planted.push_back(*fault);
            }
        return true;
    }

    // --tcp HOST:PORT [--fleet N]: room for every port, and none of the pseudo-terminal's own.
    bool ReadTcp(SimOptions& o) {
        if (!Number(fleet, 1, p.isSet(dialin) ? 5000 : 1000, o.fleet))
            return false;
        if (p.isSet(fleet) && !p.isSet(tcp) && !p.isSet(dialin)) {
            error = QStringLiteral("--fleet wants --tcp HOST:PORT or --dialin HOST:PORT");
            return false;
        }
        if (!p.isSet(tcp))
            return true;
        const QString text = p.value(tcp);
        const qsizetype colon = text.lastIndexOf(u':');
        bool ok = false;
        o.tcpHost = text.left(colon);
        o.tcpPort = text.mid(colon + 1).toInt(&ok);
        if (colon <= 0 || !ok || o.tcpPort < 1 || o.tcpPort + o.fleet - 1 > 65535) {
            error = QStringLiteral("--tcp wants HOST:PORT, with room for %1 ports").arg(o.fleet);
            return false;
        }
        if (!o.logPath.isEmpty() || !o.statePath.isEmpty() || o.thenSerial ||
            o.thenIdentification) {
            error = QStringLiteral("--log, --state-file, --then-* serve a pseudo-terminal only");
            return false;
        }
        return true;
    }

    // --dialin HOST:PORT --registration REG and the modem's own options, which want it.
    bool ReadDialin(SimOptions& o) {
        const bool modemOption = p.isSet(registration) || p.isSet(heartbeat) ||
                                 p.isSet(heartbeatBytes) || p.isSet(heartbeatInside) ||
                                 p.isSet(registrationEvery) || p.isSet(packetBytes) ||
                                 p.isSet(redial);
        if (!p.isSet(dialin)) {
            if (modemOption)
                error = QStringLiteral("--registration, --heartbeat*, --packet-bytes, "
                                       "--registration-every-packet, --redial want --dialin");
            return !modemOption;
        }
        const QString text = p.value(dialin);
        const qsizetype colon = text.lastIndexOf(u':');
        bool ok = false;
        o.dialHost = text.left(colon);
        o.dialPort = text.mid(colon + 1).toInt(&ok);
        if (colon <= 0 || !ok || o.dialPort < 1 || o.dialPort > 65535 || p.isSet(tcp)) {
            error = QStringLiteral("--dialin wants HOST:PORT, and no --tcp");
            return false;
        }
        if (!o.logPath.isEmpty() || !o.statePath.isEmpty() || o.thenSerial ||
            o.thenIdentification) {
            error = QStringLiteral("--log, --state-file, --then-* serve a pseudo-terminal only");
            return false;
        }
        if (!p.isSet(registration)) {
            error = QStringLiteral("--dialin wants --registration TEXT or hex:0A1B2C");
            return false;
        }
        const auto reg = ParseRegistration(p.value(registration));
        const auto beat = ParseRegistration(p.value(heartbeatBytes));
        if (!reg || (p.isSet(heartbeatBytes) && !beat)) {
            error = QStringLiteral("--registration and --heartbeat-bytes want TEXT or hex:0A1B2C");
            return false;
        }
        o.registration = *reg;
        o.modem.registration.assign(reg->bytes.begin(), reg->bytes.end());
        if (beat)
            o.modem.heartbeat.assign(beat->bytes.begin(), beat->bytes.end());
        double every = 0;
        int packet = 0;
        if (!Seconds(heartbeat, 0.01, 86400, every) || !Number(packetBytes, 1, 65536, packet) ||
            !Seconds(redial, 0.01, 3600, o.redialSeconds))
            return false;
        o.modem.heartbeatEveryNs = static_cast<std::int64_t>(every * 1e9);
        o.modem.packetBytes = static_cast<std::size_t>(packet);
        o.modem.heartbeatInside = p.isSet(heartbeatInside);
        o.modem.registrationEveryPacket = p.isSet(registrationEvery);
        return true;
    }
};

} // namespace

std::optional<SimOptions> ParseSimOptions(const QStringList& args, QString& error) {
    Reader r(error);
    QCommandLineParser& p = r.p;
    if (!p.parse(QStringList{"kv9000-sim"} + args)) {
        error = p.errorText();
        return std::nullopt;
    }
    if (!p.positionalArguments().isEmpty()) {
        error = "unexpected argument: " + p.positionalArguments().first();
        return std::nullopt;
    }

    SimOptions o;
    if (p.isSet(r.help)) {
        o.helpText = p.helpText().replace("<executable_name>", "kv9000-sim");
        return o;
    }
    if (!r.ReadNumbers(o) || !r.ReadAt(o) ||
        !r.Number(r.historySeed, 0, 2'000'000'000, o.historySeed))
        return std::nullopt;
    if (p.isSet(r.comment))
        o.comment = p.value(r.comment);
    if (p.isSet(r.id))
        o.identification = p.value(r.id);
    o.imagePath = p.value(r.image);
    o.clean = p.isSet(r.clean);
    if (!r.ReadPlanted(o))
        return std::nullopt;
    o.faults.garbage = p.isSet(r.garbage);
    o.logPath = p.value(r.log);
    o.statePath = p.value(r.state);
    if (!r.ReadTcp(o) || !r.ReadDialin(o))
        return std::nullopt;
    return o;
}

} // namespace sim
