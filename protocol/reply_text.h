#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Replies are decoded as UTF-8 up to the first NUL byte: anything after a NUL
// is invisible to every rule below.
QString reply_text(const QByteArray &bytes);

// The value behind the first "+ok=" of a reply, cut at the first CR LF of the
// whole reply. When that CR LF is missing or lies before the marker the value
// runs to the end of the reply. Returns false when there is no marker.
bool extract_marker_value(const QString &reply, QString *value);

// The AT+INFO reply: the text between the first "+ok=" and the next marker
// (or the end), split at every comma. Empty parts are kept. Returns false when
// there is no marker; *value_length receives the length of that text.
bool split_info_value(const QString &reply, QStringList *fields, int *value_length);
