#pragma once
// What the team library says when Qt has no PostgreSQL driver: how to get one differs by system.

#include <QString>

QString MissingServerDriverText();
