// LoginName (IdentityJournal.h) on Windows: the user the session belongs to.

#include "IdentityJournal.h"

QString LoginName() {
    const QString user = qEnvironmentVariable("USERNAME");
    return user.isEmpty() ? QStringLiteral("?") : user;
}
