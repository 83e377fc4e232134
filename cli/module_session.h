#pragma once

#include "journal/journal.h"
#include "journal/operation_record.h"

#include <QObject>
#include <QString>

class MPThread;

// One module served by its own worker thread on its own port: open, choose
// the variant, run one operation, keep its record in the journal.
class ModuleSession : public QObject
{
    Q_OBJECT

public:
    struct Target
    {
        QString port;  // as the operator knows it (pts/3, COM5)
        QString node;  // what opens it
    };

    ModuleSession(const Target &target, quint8 operation_type, const QString &image, bool cellular,
                  const Journal &journal, QObject *parent = nullptr);
    ~ModuleSession() override;

    void start();
    // Cancels the running operation on the wire; its record says
    // "interrupted".
    void cancel();

    QString port() const { return target.port; }
    const OperationRecord &record() const { return result; }
    const JournalOutcome &journal_outcome() const { return journal_result; }
    bool done() const { return finished_; }

signals:
    void progress(qint64 bytes, qint64 total);
    void finished();

private:
    void on_finished();

    Target target;
    quint8 type;
    QString image;
    bool cellular;
    MPThread *worker;
    qint64 total = 0;
    OperationRecord result;
    JournalOutcome journal_result;
    bool finished_ = false;
};
