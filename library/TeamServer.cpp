#include "TeamServer.h"

#include "ServerDriver.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>

#include <atomic>
#include <iterator>
#include <optional>

namespace {

std::atomic<int> connectionCounter{0};

// Version 1: the downloads.
const char* const kCreateSchema[] = {
    "SELECT pg_advisory_xact_lock(9000)",
    "CREATE TABLE IF NOT EXISTS kv_meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "INSERT INTO kv_meta(key, value) VALUES('schema_version', '1') ON CONFLICT (key) DO NOTHING",
    "CREATE TABLE IF NOT EXISTS kv_downloads(sha256 BYTEA PRIMARY KEY, serial INTEGER NOT NULL, "
    "downloaded_at TIMESTAMPTZ, file_name TEXT NOT NULL, contents BYTEA NOT NULL, "
    "sent_by TEXT NOT NULL DEFAULT current_user, sent_at TIMESTAMPTZ NOT NULL DEFAULT now())",
};

// The fleet list and the collections' shared runs, beside the downloads: the schema's version
// stays, so that a program that knows no fleet still syncs; they have a version of their own.
const char* const kFleetStep[] = {
    "SELECT pg_advisory_xact_lock(9000)",
    "CREATE TABLE IF NOT EXISTS kv_fleet(position INTEGER PRIMARY KEY, port TEXT NOT NULL, "
    "address INTEGER NOT NULL, name TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS kv_fleet_runs(run_id BIGSERIAL PRIMARY KEY, "
    "started TIMESTAMPTZ NOT NULL DEFAULT now(), finished TIMESTAMPTZ)",
    "CREATE TABLE IF NOT EXISTS kv_fleet_claims(run_id BIGINT NOT NULL REFERENCES "
    "kv_fleet_runs ON DELETE CASCADE, line INTEGER NOT NULL, port TEXT NOT NULL, "
    "address INTEGER NOT NULL, name TEXT NOT NULL, collector TEXT, leased_until TIMESTAMPTZ, "
    "done_at TIMESTAMPTZ, outcome TEXT, PRIMARY KEY(run_id, line))",
    "INSERT INTO kv_meta(key, value) VALUES('fleet_schema', '1') ON CONFLICT (key) DO NOTHING",
};

// The string as Qt gives it to libpq: Qt takes ';' as a separator too and turns it into a space.
// The check reads this form, and the connection is given it, so that both see the same pairs.
QString ConnectOptions(const QString& server) {
    return QString(server).replace(u';', u' ');
}

QString NoAnswer(std::chrono::seconds allowance) {
    return QStringLiteral("сервер не ответил за %1 с").arg(allowance.count());
}

// Runs statements in one transaction; the failed statement's error, or none.
std::optional<QSqlError> InOneTransaction(QSqlDatabase& db, const char* const* first,
                                          const char* const* last) {
    if (!db.transaction())
        return db.lastError();
    QSqlQuery q(db);
    for (const char* const* sql = first; sql != last; ++sql)
        if (!q.exec(QString::fromUtf8(*sql))) {
            const QSqlError error = q.lastError();
            q.finish();
            db.rollback();
            return error;
        }
    q.finish();
    if (!db.commit())
        return db.lastError();
    return std::nullopt;
}

// The server's schema: created when missing (and the role may), brought up to this program's
// version (when the role may), its version checked. Returns the cause of a refusal or an empty
// text; fleet says whether the fleet's tables are there.
QString PrepareServerSchema(QSqlDatabase& db, bool& fleet) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT to_regclass('kv_meta') IS NOT NULL, "
                               "to_regclass('kv_downloads') IS NOT NULL")) ||
        !q.next())
        return QStringLiteral("сервер не отвечает на запросы: %1").arg(q.lastError().text());
    if (!q.value(0).toBool() || !q.value(1).toBool()) {
        q.finish();
        if (const auto error =
                InOneTransaction(db, std::begin(kCreateSchema), std::end(kCreateSchema)))
            return PrivilegeRefused(*error)
                       ? QStringLiteral("на сервере нет библиотеки, а создать её этой роли "
                                        "не разрешено (её создаёт администратор по "
                                        "docs/library.sql)")
                       : QStringLiteral("библиотека на сервере не создана: %1").arg(error->text());
    }
    auto version = [&q](int& number) -> QString {
        if (!q.exec(QStringLiteral("SELECT value FROM kv_meta WHERE key = 'schema_version'")) ||
            !q.next())
            return QStringLiteral("версия библиотеки на сервере не читается: %1")
                .arg(q.lastError().text());
        // Anything but a whole number is another program's table of the same name: never
        // written.
        bool isNumber = false;
        number = q.value(0).toString().toInt(&isNumber);
        if (!isNumber || number < 1)
            return QStringLiteral("на сервере чужая таблица kv_meta (версия схемы «%1» — не "
                                  "версия библиотеки); в неё ничего не записано")
                .arg(q.value(0).toString().left(20));
        if (number > ServerSchemaVersion)
            return QStringLiteral("библиотека на сервере более новой версии (схема %1, эта "
                                  "программа знает схемы до %2); обновите программу")
                .arg(number)
                .arg(ServerSchemaVersion);
        return {};
    };
    int number = 0;
    if (const QString refused = version(number); !refused.isEmpty())
        return refused;
    q.finish();
    // The fleet's tables, added when missing and the role may; a role that may not keeps the
    // sync without them.
    auto fleetThere = [&q] {
        const bool there = q.exec(QStringLiteral("SELECT to_regclass('kv_fleet') IS NOT NULL AND "
                                                 "to_regclass('kv_fleet_runs') IS NOT NULL AND "
                                                 "to_regclass('kv_fleet_claims') IS NOT NULL")) &&
                           q.next() && q.value(0).toBool();
        q.finish();
        return there;
    };
    fleet = fleetThere();
    if (!fleet && !InOneTransaction(db, std::begin(kFleetStep), std::end(kFleetStep)))
        fleet = fleetThere();
    // A library created before downloads of unknown time were sent requires the time. The
    // column is relaxed where the role owns the table (older programs never read it); where it
    // may not, such downloads stay on this machine (the sync's note).
    if (!q.exec(QStringLiteral("SELECT attnotnull FROM pg_attribute WHERE attrelid = "
                               "'kv_downloads'::regclass AND attname = 'downloaded_at'")) ||
        !q.next())
        return QStringLiteral("библиотека на сервере не читается: %1").arg(q.lastError().text());
    const bool timeRequired = q.value(0).toBool();
    q.finish();
    if (timeRequired)
        q.exec(QStringLiteral("ALTER TABLE kv_downloads ALTER COLUMN downloaded_at DROP NOT NULL"));
    return {};
}

} // namespace

TeamServer::TeamServer(const QString& server)
    : name_(QStringLiteral("kvteam-%1").arg(connectionCounter.fetch_add(1))) {
    error_ = CheckServerString(server);
    if (!error_.isEmpty())
        return;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    if (!db.isValid()) {
        error_ = MissingServerDriverText();
        return;
    }
    // The bounds first, so that the user's own values come later and win.
    db.setConnectOptions(BoundedWaitOptions(ServerConnectSeconds, ServerDeadSeconds) +
                         ConnectOptions(server));
    if (!db.open()) {
        error_ = QStringLiteral("сервер недоступен или отказал во входе: %1")
                     .arg(db.lastError().text().trimmed());
        return;
    }
    QuietServerNotices(db);
    const Bound bound = Bounded();
    // A lock another session holds (the schema's or a run's, of a collector that stalled while
    // holding it) is waited for no longer than an answer.
    QSqlQuery(db).exec(QStringLiteral("SET lock_timeout = '%1s'").arg(ServerAnswerSeconds));
    error_ = PrepareServerSchema(db, fleet_);
    if (!error_.isEmpty() && watch_.Cut())
        error_ = QStringLiteral("сервер не отвечает на запросы: %1").arg(NoAnswer(allowance_));
}

TeamServer::~TeamServer() {
    if (!QSqlDatabase::contains(name_))
        return;
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase TeamServer::Database() const {
    return QSqlDatabase::database(name_, false);
}

TeamServer::Bound::Bound(const TeamServer& server, std::chrono::seconds allowance)
    : server_(server) {
    server_.allowance_ = allowance;
    server_.watch_.Arm(ServerSocket(server_.Database()), allowance);
}

TeamServer::Bound::~Bound() {
    server_.watch_.Disarm();
}

TeamServer::Bound TeamServer::Bounded(std::chrono::seconds allowance) const {
    return Bound(*this, allowance);
}

bool TeamServer::Gone() const {
    return ServerConnectionGone(Database());
}

QString TeamServer::LostText(const QSqlError& error) const {
    return watch_.Cut()
               ? QStringLiteral("связь с сервером прервалась: %1").arg(NoAnswer(allowance_))
               : ServerLost(error);
}

std::chrono::seconds TransferAllowance(qint64 bytes) {
    return std::chrono::seconds(ServerAnswerSeconds + bytes / (16 * 1024));
}

QString CheckServerString(const QString& server) {
    if (server.trimmed().isEmpty())
        return QStringLiteral("сервер не задан ([Library] Server= в файле настроек)");
    return ServerStringRefusal(ConnectOptions(server));
}

QString Literal(const QSqlDatabase& db, const QVariant& value) {
    QSqlField field(QString(), value.metaType());
    field.setValue(value);
    return db.driver()->formatValue(field);
}

bool PrivilegeRefused(const QSqlError& error) {
    return error.nativeErrorCode() == QLatin1String("42501");
}

QString ServerLost(const QSqlError& error) {
    return QStringLiteral("связь с сервером прервалась: %1").arg(error.text());
}
