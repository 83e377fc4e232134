#pragma once

#include "journal/operation_record.h"

#include <QByteArray>
#include <QString>

// The results journal: kv20-journal.csv, one CSV record per operation,
// shared by the window and the command-line tool, appended by several
// processes at once. Records are appended whole and flushed to the disk;
// earlier records are never rewritten.
class Journal
{
public:
    static const QString default_path;

    explicit Journal(QString path = default_path);

    // Appends one record durably. Empty on success, else why it was not
    // written (the system's own words). Safe to call from any thread.
    QString append(const OperationRecord &record) const;

    QString path() const { return path_; }

    // The header row and one record as they stand in the file, CR LF ended.
    static QByteArray header_row();
    static QByteArray record_row(const OperationRecord &record);

private:
    QString path_;
};
