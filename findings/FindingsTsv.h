#pragma once

// The findings as tab-separated text: one header line "channel kind from to sensor detail",
// then one line per finding, times as "YYYY-MM-DD HH:MM:SS". Tabs and line breaks inside a
// field become spaces, so every finding stays one line of six fields.

#include "Finding.h"

#include <QString>

#include <vector>

QString FindingsTsv(const std::vector<Finding>& findings);
