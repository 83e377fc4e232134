#pragma once

#include "journal/operation_record.h"

#include <QFrame>

class QLabel;

// One USB slot on the bench: its name, what is happening to the module in it
// and how the last one ended, in letters large enough to read from three
// metres with sixteen tiles on a 1366x768 screen. A result stays until the
// next module arrives in the slot; it is told by a word and a symbol, the
// colour only helps.
class SlotTile : public QFrame
{
    Q_OBJECT

public:
    // refused: done before, and the again policy blocks it.
    enum class State { waiting, identifying, downloading, pass, fail, already_done, refused };

    explicit SlotTile(const QString &name, QWidget *parent = nullptr);

    QString name() const { return name_; }
    State state() const { return state_; }
    // The module line mode knows by `id` is the tile's now.
    void arrive(int id);
    int module() const { return module_; }
    void show_progress(qint64 bytes, qint64 total);
    void show_result(const OperationRecord &record, bool already_done);
    // Why a waiting tile waits (nobody signed in); empty: no note.
    void show_note(const QString &note);
    // What became of the last pass's label; empty: nothing to say (no
    // labels, or a module that did not pass). Kept until the next arrival.
    void show_label(const QString &text);
    // What the operator reads, line by line: for tests and screenshots.
    QString shown_text() const;

private:
    void set_state(State state, const QString &word, const QString &detail);

    QString name_;
    State state_ = State::waiting;
    int module_ = -1;
    int shown_percent = -1;
    bool coloured = false;
    QLabel *name_label, *state_label, *detail_label, *label_label;
};

// A failure in the operator's words (the journal keeps its own); empty for
// none.
QString failure_words(OperationFailure failure);
