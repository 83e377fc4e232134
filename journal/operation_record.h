#pragma once

#include "journal/journal_format.h"

#include <QDateTime>
#include <QString>

// What one operation on one module did: a row of the results journal. The
// worker fills it on its own thread as the operation runs; the front end
// (window or command line) names the tool.
struct OperationRecord
{
    QDateTime started;      // local time, when the request reached the worker
    QString tool;           // "window", "cli" or "station"
    QString port;           // the port name the operator chose
    QString operation;      // "query", "audio" or "firmware"
    // What the module reported during this operation, empty where it did not.
    QString device_number;
    QString imei_or_mac;
    QString iccid_or_audio_version;
    QString device_version;
    QString image;          // path as given; empty for a query
    qint64 image_bytes = -1;  // -1: no image was read
    QByteArray image_sha256;  // lower-case hex; empty: no image was read
    bool ok = false;
    OperationFailure failure;  // why not ok, as it was made where it happened
    // A failed record's detail as a journal read back holds it where no
    // failure stands for it (an older journal's words, a hand edit): kept
    // and written again as it stands. Empty in a record made here.
    QString detail_read_back;
    qint64 duration_ms = 0;
    // Given by the journal when the record is appended, unless set already:
    // a random UUID that names the record wherever it is copied to, and the
    // station it was made at.
    QString record_id;
    QString station;
    // The USB socket the module was in (ModulePort::slot); empty where
    // discovery could not say or the port was named by hand.
    QString slot;
    // Who served it, for which work order and product, under which recipe
    // (the SHA-256 of the recipe file as read, lower-case hex); empty where
    // no one said.
    QString operator_id;
    QString work_order;
    QString product;
    QByteArray recipe_sha256;
    // The again policy's finding: the earlier ok record of the same service
    // to this module (its id empty: none found, or not looked for) and where
    // it looked (journal_format::again_checked_words; empty: not at all).
    struct Earlier
    {
        QString record_id;
        QString station;
        QString place;  // its slot, else its port
        QString time;   // as its record has it
    } earlier;
    QString again_checked;
};

// The result column's word: ok, failed, or refused (done before, blocked).
std::string_view result_word(const OperationRecord &record);

// The operation column's word for an operation type (0, 1, 2).
QString operation_name(quint8 type);

// The record of an operation that failed before it reached the module (the
// port did not open, the image cannot be sent), started now.
OperationRecord unstarted_operation(const QString &port, quint8 type, const QString &image, OperationFailure failure);

// A failure in the journal's words (journal_format.h), which the command line
// prints as well: empty for none.
QString journal_words(OperationFailure failure);
// The record's detail column: empty for ok, else its failure's words, else
// the text read back.
QString detail_of(const OperationRecord &record);

// One of the journal's words (journal_format.h) as a QString.
inline QString journal_text(std::string_view text)
{
    return QString::fromLatin1(text.data(), int(text.size()));
}
