#include "station/station_window.h"

#include "interfaces/flash_parameter.h"
#include "line/line_mode.h"
#include "report/journal_reading.h"
#include "report/report_page.h"
#include "report/shift_tally.h"
#include "journal/station_name.h"
#include "label/label_content.h"
#include "label/label_drawing.h"
#include "label/label_queue.h"
#include "station/result_sound.h"
#include "station/sign_in_bar.h"
#include "station/slot_tile.h"
#include "station/work_order_passes.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QTextDocument>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>
#include <thread>

namespace {

QString operation_words(quint8 type)
{
    switch (type) {
    case operation::device_query: return StationWindow::tr("设备查询");
    case operation::audio_replacement: return StationWindow::tr("音频更换");
    default: return StationWindow::tr("固件升级");
    }
}

void set_big_font(QWidget *widget, int pixel_size)
{
    QFont font = widget->font();
    font.setPixelSize(pixel_size);
    font.setBold(true);
    widget->setFont(font);
}

// Plain text: a recipe's path or an image's file name with markup in it
// is shown as written.
QLabel *big_label(int pixel_size, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    set_big_font(l, pixel_size);
    return l;
}

// The red banner: wrapped at a word or, where a word is wider than the
// window (a long path; a record, which is one long word to a line breaker),
// anywhere in it; selectable, so that a record can be copied out of it. A
// label wraps at words only, and cuts off what does not fit.
QTextEdit *banner_box(QWidget *parent)
{
    auto *b = new QTextEdit(parent);
    b->setObjectName(QStringLiteral("banner"));
    b->setReadOnly(true);
    b->setAcceptRichText(false);
    b->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    b->setFrameShape(QFrame::NoFrame);
    b->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    b->setStyleSheet(QStringLiteral("QTextEdit { background: #c62828; color: white; }"));
    set_big_font(b, 20);
    b->document()->setDocumentMargin(6);
    return b;
}

// The shift report of `journal` next to it, as HTML: empty on success, else
// why not. From any thread.
QString write_shift_report(const QString &journal, QString *page_path)
{
    ShiftTally tally(false, 0, false, 0);
    QString error;
    if (!read_journal(journal, station_of_journal_path(journal), &tally, &error)
        || !read_label_journals(QFileInfo(journal).absolutePath(), &tally, &error))
        return error;
    *page_path = QFileInfo(journal).absolutePath() + QStringLiteral("/kv20-shift-report.html");
    QSaveFile file(*page_path);
    const QByteArray page = report_page(tally.figures(), QDateTime::currentDateTime());
    if (!file.open(QIODevice::WriteOnly) || file.write(page) != page.size() || !file.commit())
        return file.errorString();
    return QString();
}

} // namespace

StationWindow::StationWindow(const Recipe &recipe, LineMode *line, std::unique_ptr<WorkOrderPasses> passes,
                             LabelQueue *labels, QWidget *parent)
    : QWidget(parent)
    , recipe(recipe)
    , line(line)
    , work_order_passes(std::move(passes))
    , labels(labels)
{
    // The work order in the title: where the operator's eye meets it
    // without a line taken from the tiles.
    setWindowTitle(recipe.work_order.isEmpty() ? tr("KV20 工位") : tr("KV20 工位") + QStringLiteral(" — ")
                                                                     + tr("工单：%1").arg(recipe.work_order));
    auto *layout = new QVBoxLayout(this);
    auto *heading = big_label(18, this);
    QString shown = tr("操作：%1").arg(operation_words(recipe.type));
    if (!recipe.image.isEmpty())
        shown += QStringLiteral("    ")
                 + tr("镜像：%1  %2 字节  SHA-256 %3")
                       .arg(QFileInfo(recipe.image).fileName(), QString::number(recipe.image_bytes),
                            QString::fromLatin1(recipe.image_sha256.left(12)));
    shown += QStringLiteral("    ") + tr("配方：%1（%2）").arg(recipe.path, QString::fromLatin1(recipe.recipe_sha256.left(8)));
    heading->setText(shown);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto *row = new QHBoxLayout;
    counters = big_label(22, this);
    row->addWidget(counters, 1);
    // Beside the counters rather than a row of its own: the tiles keep
    // their height.
    sign_in = new SignInBar(recipe.operators, this);
    row->addWidget(sign_in, 1);
    connect(sign_in, &SignInBar::signed_in, this, [this](const QString &id) {
        this->line->set_operator(id);
        note_tiles(QString());
    });
    connect(sign_in, &SignInBar::sign_out_asked, this, [this] {
        // No module that arrives from now on is served; the one being
        // served ends under its operator.
        this->line->set_operator(QString());
        signing_out = true;
        sign_out_if_idle();
    });
    report_button = new QPushButton(tr("班次报告"), this);
    connect(report_button, &QPushButton::clicked, this, &StationWindow::open_report);
    row->addWidget(report_button);
    if (labels) {
        reprint_button = new QPushButton(tr("重打标签"), this);
        reprint_button->setEnabled(false);
        connect(reprint_button, &QPushButton::clicked, this, [this] { this->labels->reprint(); });
        row->addWidget(reprint_button);
        preview_button = new QPushButton(tr("标签预览"), this);
        preview_button->setEnabled(false);
        connect(preview_button, &QPushButton::clicked, this, &StationWindow::preview_label);
        row->addWidget(preview_button);
        labels->notify(this, "labels_changed");
    }
    report_waiter = std::make_shared<ReportWaiter>();
    report_waiter->window = this;
    layout->addLayout(row);

    banner = banner_box(this);
    banner->hide();
    connect(banner->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &StationWindow::fit_banner);
    layout->addWidget(banner);

    // The problem is the database server's text.
    backlog_label = new QLabel(this);
    backlog_label->setTextFormat(Qt::PlainText);
    backlog_label->setWordWrap(true);
    backlog_label->hide();
    layout->addWidget(backlog_label);

    grid = new QGridLayout;
    grid->setSpacing(6);
    layout->addLayout(grid, 1);
    for (const auto &named : recipe.named_slots)
        add_tile(named.first, named.second);
    counts(LineCounts());
    note_tiles(tr("请先登录"));
}

SlotTile *StationWindow::add_tile(const QString &slot, const QString &name)
{
    auto *tile = new SlotTile(name, this);
    tiles_.append(tile);
    by_slot.insert(slot, tile);
    if (labels) {
        // The slot's own label, when the operator holds two modules and the
        // last label printed is the other's: from the tile's menu.
        auto *reprint = new QAction(tr("重打此标签"), tile);
        reprint->setEnabled(false);
        connect(reprint, &QAction::triggered, this, [this, tile] {
            if (tile_label.contains(tile))
                this->labels->reprint(tile_label.value(tile));
        });
        tile->addAction(reprint);
        tile->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
    lay_out_tiles();
    return tile;
}

void StationWindow::lay_out_tiles()
{
    // As square a grid as the tiles make: sixteen are four by four.
    const int columns = qMax(1, int(std::ceil(std::sqrt(double(tiles_.size())))));
    for (int i = 0; i < tiles_.size(); ++i)
        grid->addWidget(tiles_[i], i / columns, i % columns);
}

void StationWindow::arrival(int id, const QString &port, const QString &slot, const QString &)
{
    // A module in a slot the recipe does not name, or one discovery cannot
    // place, still gets a tile: by its slot, else by its port.
    const QString key = slot.isEmpty() ? port : slot;
    SlotTile *tile = by_slot.value(key);
    if (!tile)
        tile = add_tile(key, key);
    by_module.remove(tile->module());
    by_module.insert(id, tile);
    tile->arrive(id);
    tile_label.remove(tile);
    if (!tile->actions().isEmpty())
        tile->actions().constFirst()->setEnabled(false);
}

void StationWindow::progress(int id, qint64 bytes, qint64 total)
{
    if (SlotTile *tile = by_module.value(id))
        tile->show_progress(bytes, total);
}

void StationWindow::finished(int id, const OperationRecord &record, bool done_before, const JournalOutcome &kept)
{
    SlotTile *tile = by_module.value(id);
    if (tile)
        tile->show_result(record, done_before);
    if (labels) {
        labels->finished(id, record, done_before);
        if (tile && record.ok && !done_before) {
            tile_label.insert(tile, record.record_id);
            last_pass = record;
            preview_button->setEnabled(true);
            labels_changed();
        }
    }
    if (work_order_passes && !done_before) {
        work_order_passes->add(record);
        counts(last_counts);
    }
    // Line mode counts the module as served until this call has returned.
    if (signing_out)
        QMetaObject::invokeMethod(this, &StationWindow::sign_out_if_idle, Qt::QueuedConnection);
    if (!done_before) {
        if (recipe.sound)
            play_result_sound(record.ok);
        show_banner(kept);
    }
    emit result_shown();
}

// The banner says where the last record is when the journal did not take it,
// and holds every record kept nowhere until the window closes: the window
// has their last copy.
void StationWindow::show_banner(const JournalOutcome &kept)
{
    if (!kept.unsaved.isEmpty())
        unsaved << kept.unsaved;
    const QString journal = QDir::toNativeSeparators(QFileInfo(line->journal_path()).absoluteFilePath());
    kept_elsewhere = !kept.in_journal && !kept.kept_in.isEmpty()
                         ? tr("记录无法写入日志 %1。最近一条记录保存在 %2").arg(journal, kept.kept_in)
                         : QString();
    QStringList lines;
    if (!printer_problem.isEmpty())
        lines << printer_problem;
    if (!kept_elsewhere.isEmpty())
        lines << kept_elsewhere;
    if (!unsaved.isEmpty())
        lines << tr("以下记录未能写入日志 %1，也未能写入任何文件。请复制并保存：").arg(journal) << unsaved;
    if (lines.isEmpty()) {
        banner->hide();
        return;
    }
    banner->setPlainText(lines.join(QLatin1Char('\n')));
    fit_banner();
    banner->show();
}

// The tile keeps its result until the next module arrives in the slot, and a
// module pulled out mid-transfer still has its result (unplugged) to show.
void StationWindow::departure(int id)
{
    if (labels)
        labels->departed(id);
}

void StationWindow::labels_changed()
{
    const LabelQueue::State state = labels->state();
    // A label printed or owed is an event in the label journal to upload.
    if (line)
        line->upload_soon();
    const auto words = [this](LabelQueue::Status status) {
        switch (status) {
        case LabelQueue::Status::at_removal: return tr("标签：取出时打印");
        case LabelQueue::Status::waiting: return tr("标签：等待打印");
        case LabelQueue::Status::printed: return tr("标签：已打印");
        case LabelQueue::Status::reprinted: return tr("标签：已重打");
        }
        return QString();
    };
    for (auto it = tile_label.begin(); it != tile_label.end(); ++it) {
        const auto found = state.labels.find(it.value());
        if (found == state.labels.end())
            continue;
        it.key()->show_label((words(found->second) + QLatin1Char(' ') + label_number(recipe.label, it.value())).trimmed());
        // Only a label that has come out can come out again.
        it.key()->actions().constFirst()->setEnabled(found->second == LabelQueue::Status::printed
                                                     || found->second == LabelQueue::Status::reprinted);
    }
    reprint_button->setEnabled(!state.last_record_id.isEmpty());
    QString problem;
    if (state.waiting > 0 && !state.problem.printed()) {
        const QHash<int, QString> problems {
            {PrintResult::paper_out, tr("缺纸")},      {PrintResult::head_open, tr("打印头打开")},
            {PrintResult::paused, tr("已暂停")},       {PrintResult::no_answer, tr("无应答")},
            {PrintResult::refused, tr("无法打印")},
        };
        problem = tr("标签打印机 %1：%2（%3）。%4 张标签等待打印，打印机恢复后打印。")
                      .arg(recipe.label.printer_name, problems.value(state.problem.problem), state.problem.detail)
                      .arg(state.waiting);
    }
    if (problem == printer_problem)
        return;
    printer_problem = problem;
    JournalOutcome kept;
    kept.in_journal = kept_elsewhere.isEmpty();
    show_banner(kept);
}

void StationWindow::preview_label()
{
    QDialog preview(this);
    preview.setWindowTitle(tr("标签预览"));
    auto *layout = new QVBoxLayout(&preview);
    auto *picture = new QLabel(&preview);
    picture->setPixmap(QPixmap::fromImage(label_image(labels->content_of(last_pass), recipe.label)));
    layout->addWidget(picture);
    preview.exec();
}

void StationWindow::sign_out_if_idle()
{
    if (!signing_out || line->serving())
        return;
    signing_out = false;
    sign_in->signed_out();
    note_tiles(tr("请先登录"));
}

void StationWindow::note_tiles(const QString &note)
{
    for (SlotTile *tile : qAsConst(tiles_))
        tile->show_note(note);
}

QString StationWindow::sign_in_text() const
{
    return sign_in->shown_text();
}

void StationWindow::notice(const QString &) {}

void StationWindow::counts(const LineCounts &counts)
{
    QString text = tr("通过 %1    失败 %2    已完成 %3    最近一小时 %4")
                       .arg(counts.ok)
                       .arg(counts.failed)
                       .arg(counts.already_done)
                       .arg(counts.last_hour);
    // Counted apart: a refused module is neither a pass nor a failure.
    if (recipe.again != AgainPolicy::allow)
        text += QStringLiteral("    ") + tr("再次 %1    已拒绝 %2").arg(counts.again).arg(counts.refused);
    // With a work order, the target counts its modules passed on this
    // station, before this start as well; without, this start's passes.
    last_counts = counts;
    const int passed = work_order_passes ? work_order_passes->count() : counts.ok;
    if (recipe.target > 0)
        text += QStringLiteral("    ") + tr("距目标 %1").arg(qMax(0, recipe.target - passed));
    counters->setText(text);
}

QString StationWindow::counters_text() const
{
    return counters->text();
}

// As tall as its text, within the height the screen leaves beside the rest
// of the window (three lines at least); beyond that it scrolls. The window
// grows to its layout's minimum by itself, and a tile's labels are a line
// high at least: no tile is squashed for the banner.
void StationWindow::fit_banner()
{
    const int text = int(std::ceil(banner->document()->size().height()));
    const int others = layout()->minimumSize().height() - (banner->isHidden() ? 0 : banner->height());
    const int decoration = frameGeometry().height() - geometry().height();
    const int room = screen()->availableGeometry().height() - decoration - others;
    const int least = 3 * banner->fontMetrics().lineSpacing() + 2 * int(banner->document()->documentMargin());
    banner->setFixedHeight(qMin(text, qMax(least, room)));
}

QString StationWindow::banner_text() const
{
    return banner->isHidden() ? QString() : banner->toPlainText();
}

void StationWindow::backlog(const BackgroundUpload::State &state)
{
    // The problem names the database as PgLink::describe() does: never
    // with its password.
    QString text = tr("数据库：%1 条记录等待上传").arg(state.waiting);
    if (!state.unreadable.isEmpty())
        text += QStringLiteral("  ") + tr("%1 行无法读取，未上传（%2）").arg(state.unreadable.size()).arg(state.unreadable.first());
    if (!state.problem.isEmpty())
        text += QStringLiteral("  (%1)").arg(state.problem);
    backlog_label->setText(text);
    backlog_label->show();
}

QString StationWindow::backlog_text() const
{
    return backlog_label->isHidden() ? QString() : backlog_label->text();
}

StationWindow::~StationWindow()
{
    std::lock_guard<std::mutex> lock(report_waiter->mutex);
    report_waiter->window = nullptr;
}

void StationWindow::open_report()
{
    report_button->setEnabled(false);
    std::thread([waiter = report_waiter, journal = QFileInfo(line->journal_path()).absoluteFilePath()] {
        QString page;
        const QString error = write_shift_report(journal, &page);
        std::lock_guard<std::mutex> lock(waiter->mutex);
        waiter->error = error;
        waiter->page = page;
        if (waiter->window)
            QMetaObject::invokeMethod(waiter->window, "report_written", Qt::QueuedConnection);
    }).detach();
}

void StationWindow::report_written()
{
    QString error, page;
    {
        std::lock_guard<std::mutex> lock(report_waiter->mutex);
        error = report_waiter->error;
        page = report_waiter->page;
    }
    report_button->setEnabled(true);
    if (!error.isEmpty())
        plain_message(this, QMessageBox::Warning, windowTitle(), tr("无法生成班次报告：%1").arg(error));
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    if (may_close) {
        event->accept();
        return;
    }
    event->ignore();
    if (closing)
        return;
    if (line->serving()
        && plain_message(this, QMessageBox::Question, windowTitle(),
                         tr("仍有模组正在处理。关闭将中止这些操作（记录会保存）。确定关闭吗？"),
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
               != QMessageBox::Yes)
        return;
    closing = true;
    setEnabled(false);
    // Queued: with nothing being served, stop() finishes at once, inside
    // this close, and a close() from within it would be swallowed.
    connect(
        line, &LineMode::finished, this,
        [this] {
            may_close = true;
            close();
        },
        Qt::QueuedConnection);
    line->stop();
}

int plain_message(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                  QMessageBox::StandardButtons buttons, QMessageBox::StandardButton default_button)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    if (default_button != QMessageBox::NoButton)
        box.setDefaultButton(default_button);
    return box.exec();
}
