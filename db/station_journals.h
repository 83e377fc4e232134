#pragma once

#include <QStringList>

// The journal and its side files (and journals set aside as older) in
// `folder`: what a station uploads.
QStringList station_journals(const QString &folder);
