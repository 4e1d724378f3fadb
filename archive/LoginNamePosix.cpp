// LoginName (IdentityJournal.h) on POSIX systems: the account of the effective user.

#include "IdentityJournal.h"

#include <pwd.h>
#include <unistd.h>

QString LoginName() {
    if (const passwd* pw = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? QStringLiteral("?") : user;
}
