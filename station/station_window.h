#pragma once

#include "line/line_mode_view.h"
#include "station/recipe.h"

#include <QHash>
#include <QList>
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <mutex>

class LineMode;
class QGridLayout;
class QLabel;
class QPushButton;
class QTextEdit;
class SlotTile;

// The station's one window: the recipe as read (never editable here), the
// shift's counters, a red banner while records cannot reach the journal
// (where the last one is kept instead; a record kept nowhere stays in it for
// the operator to copy), and a tile per slot. Every text from outside (a
// module's answers, a path, the database's problem) is shown as written,
// never as markup. Line mode tells it what happens; closing it while modules
// are being served asks first, then ends line mode as a termination would:
// every operation cancelled on the wire, every record kept.
class StationWindow : public QWidget, public LineModeView
{
    Q_OBJECT

public:
    // `passes`: what the target counts, when the recipe names a work order
    // (null: this start's passes).
    // `labels`: a label for every pass ([label]); null: none.
    StationWindow(const Recipe &recipe, LineMode *line, std::unique_ptr<class WorkOrderPasses> passes,
                  class LabelQueue *labels = nullptr, QWidget *parent = nullptr);
    ~StationWindow() override;

    QList<SlotTile *> tiles() const { return tiles_; }
    QString counters_text() const;
    QString banner_text() const;
    QString backlog_text() const;
    QString sign_in_text() const;

    void arrival(int id, const QString &port, const QString &slot, const QString &operation) override;
    void progress(int id, qint64 bytes, qint64 total) override;
    void finished(int id, const OperationRecord &record, bool already_done, const JournalOutcome &kept) override;
    void departure(int id) override;
    void counts(const LineCounts &counts) override;
    void notice(const QString &line) override;
    // How many records wait for the database and why, as the upload last
    // found it.
    void backlog(const BackgroundUpload::State &state) override;

signals:
    // A result was shown (tests and the benchmark wait on it).
    void result_shown();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    SlotTile *add_tile(const QString &slot, const QString &name);
    // Every waiting tile says why it waits (empty: nothing to say).
    void note_tiles(const QString &note);
    void sign_out_if_idle();
    void lay_out_tiles();
    void show_banner(const JournalOutcome &kept);
    void fit_banner();
    void open_report();
    // Queued from the report's thread, which leaves its outcome in
    // report_waiter: the call itself carries nothing (ThreadSanitizer cannot
    // see the locking of Qt's event queue).
    Q_INVOKABLE void report_written();
    // The label queue's state changed (queued from its thread, carrying
    // nothing, as report_written).
    Q_INVOKABLE void labels_changed();
    void preview_label();

    const Recipe recipe;
    LineMode *line;
    // With a work order and a target: what the target counts.
    std::unique_ptr<class WorkOrderPasses> work_order_passes;
    LineCounts last_counts;
    QLabel *counters, *backlog_label;
    QPushButton *report_button;
    class SignInBar *sign_in;
    bool signing_out = false;
    // The shift report is written on a thread of its own: a shift's journal
    // takes seconds to read, and the window goes on drawing meanwhile. The
    // window's end tells a report being written that nobody waits for it.
    struct ReportWaiter
    {
        std::mutex mutex;
        StationWindow *window;
        QString error, page;  // the last report's
    };
    std::shared_ptr<ReportWaiter> report_waiter;
    QTextEdit *banner;
    QStringList unsaved;  // records kept nowhere, as the journal would hold them
    QString kept_elsewhere;  // where the last record went, when not to the journal
    QString printer_problem;  // the label printer's, while labels wait for it
    class LabelQueue *labels;
    QPushButton *reprint_button = nullptr, *preview_button = nullptr;
    QHash<SlotTile *, QString> tile_label;  // the record id of each tile's pass, whose label it shows
    OperationRecord last_pass;  // the label the preview shows
    QGridLayout *grid;
    QList<SlotTile *> tiles_;
    QHash<QString, SlotTile *> by_slot;
    QHash<int, SlotTile *> by_module;
    bool closing = false, may_close = false;
};

// A message box that shows `text` as written, never as markup (a recipe's
// path and values, a file's error); the button clicked.
int plain_message(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                  QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                  QMessageBox::StandardButton default_button = QMessageBox::NoButton);
