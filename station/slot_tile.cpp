#include "station/slot_tile.h"

#include <QCoreApplication>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// Plain text: a module's answer or a slot's name with markup in it is shown
// as written, never drawn as markup (an <img> would load a picture, on
// Windows from a network share). At least one line high, however little
// room the window has.
QLabel *label(int pixel_size, bool bold, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    QFont font = l->font();
    font.setPixelSize(pixel_size);
    font.setBold(bold);
    l->setFont(font);
    l->setAlignment(Qt::AlignCenter);
    l->setMinimumHeight(l->fontMetrics().height());
    return l;
}

} // namespace

SlotTile::SlotTile(const QString &name, QWidget *parent)
    : QFrame(parent)
    , name_(name)
{
    setFrameShape(QFrame::Box);
    setLineWidth(2);
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(2);
    // Sixteen tiles on 1366x768 leave about 330x150 pixels each: the result
    // word at 44 px is some 12 mm high there, readable from three metres.
    name_label = label(22, true, this);
    state_label = label(44, true, this);
    detail_label = label(18, false, this);
    detail_label->setWordWrap(true);
    label_label = label(18, true, this);
    label_label->hide();
    // A state word longer than the tile (a translation's) wraps, and never
    // widens the tile: sixteen of them must fit on the screen. The longest
    // word keeps its line up to 296 px: four such tiles with their frames,
    // margins and spacing still fit 1366 px, and the window's own size has
    // room for them.
    for (QLabel *l : {state_label, detail_label}) {
        l->setWordWrap(true);
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    int widest = 0;
    for (const QString &word : {QStringLiteral("↻ ") + tr("已完成"), QStringLiteral("✔ ") + tr("通过"),
                                QStringLiteral("✘ ") + tr("失败"), tr("下载 %1%").arg(100), tr("识别中")})
        widest = qMax(widest, state_label->fontMetrics().horizontalAdvance(word));
    state_label->setMinimumWidth(qMin(widest + 8, 296));
    name_label->setText(name);
    for (QLabel *l : {name_label, state_label, detail_label, label_label})
        layout->addWidget(l);
    set_state(State::waiting, tr("等待"), QString());
}

void SlotTile::arrive(int id)
{
    module_ = id;
    show_label(QString());
    set_state(State::identifying, tr("识别中"), QString());
}

void SlotTile::show_progress(qint64 bytes, qint64 total)
{
    if (total <= 0)
        return;
    // A packet a module is some 90 ms; 32 modules would repaint the window
    // hundreds of times a second for a figure that changes once a percent.
    const int percent = int(bytes * 100 / total);
    if (state_ == State::downloading && percent == shown_percent)
        return;
    shown_percent = percent;
    set_state(State::downloading, tr("下载 %1%").arg(percent), QString());
}

void SlotTile::show_result(const OperationRecord &record, bool already_done)
{
    const QString device = record.device_number.isEmpty() ? QString() : record.device_number + QStringLiteral("  ");
    const QString took = tr("%1 秒").arg(double(record.duration_ms) / 1000.0, 0, 'f', 1);
    // Where the earlier record was made, and whether other stations were
    // asked at all.
    const OperationRecord::Earlier &e = record.earlier;
    QString earlier = QStringLiteral("%1 %2 %3").arg(e.station, e.place, e.time).simplified();
    if (record.again_checked == journal_text(journal_format::again_checked_words::unanswered))
        earlier += QStringLiteral("  ") + tr("（未问其他工位）");
    if (already_done)
        set_state(State::already_done, QStringLiteral("↻ ") + tr("已完成"), device);
    else if (record.failure.kind == Failure::done_before)
        set_state(State::refused, QStringLiteral("⊘ ") + tr("已完成"), device + earlier);
    else if (record.ok && !e.record_id.isEmpty())
        set_state(State::pass, QStringLiteral("✔ ") + tr("再次"), device + took + QStringLiteral("  ") + earlier);
    else if (record.ok)
        set_state(State::pass, QStringLiteral("✔ ") + tr("通过"), device + took);
    else
        set_state(State::fail, QStringLiteral("✘ ") + tr("失败"),
                  QStringLiteral("(%1)  ").arg(record.failure ? failure_words(record.failure) : record.detail_read_back)
                      + device + took);
}

void SlotTile::show_note(const QString &note)
{
    if (state_ == State::waiting)
        detail_label->setText(note);
}

void SlotTile::show_label(const QString &text)
{
    label_label->setText(text);
    label_label->setVisible(!text.isEmpty());
}

void SlotTile::set_state(State state, const QString &word, const QString &detail)
{
    state_label->setText(word);
    detail_label->setText(detail);
    // A palette change repaints the tile and all it holds.
    if (coloured && state == state_)
        return;
    coloured = true;
    state_ = state;
    QColor background = palette().color(QPalette::Window);
    switch (state) {
    case State::pass: background = QColor(0x2e, 0x9d, 0x46); break;
    case State::fail: background = QColor(0xc6, 0x28, 0x28); break;
    case State::already_done: background = QColor(0x3a, 0x6e, 0xb5); break;
    case State::refused: background = QColor(0x6a, 0x3d, 0x9a); break;
    case State::downloading:
    case State::identifying: background = QColor(0xf2, 0xc9, 0x4c); break;
    case State::waiting: background = QColor(0xdd, 0xdd, 0xdd); break;
    }
    QPalette colours = palette();
    colours.setColor(QPalette::Window, background);
    const bool dark = state != State::waiting && state != State::identifying && state != State::downloading;
    colours.setColor(QPalette::WindowText, dark ? Qt::white : Qt::black);
    setPalette(colours);
}

QString SlotTile::shown_text() const
{
    QStringList lines {name_label->text(), state_label->text(), detail_label->text()};
    if (!label_label->text().isEmpty())
        lines << label_label->text();
    return lines.join(QLatin1Char('\n'));
}

QString failure_words(OperationFailure failure)
{
    const auto tr = [](const char *source) { return QCoreApplication::translate("SlotTile", source); };
    // No default: the compiler names a failure added without words here
    // (-Wswitch).
    switch (failure.kind) {
    case Failure::none: return QString();
    case Failure::port_not_opened: return tr(QT_TRANSLATE_NOOP("SlotTile", "端口打不开"));
    case Failure::no_reply: return tr(QT_TRANSLATE_NOOP("SlotTile", "无应答"));
    case Failure::image_not_found: return tr(QT_TRANSLATE_NOOP("SlotTile", "找不到镜像"));
    case Failure::image_too_large: return tr(QT_TRANSLATE_NOOP("SlotTile", "镜像过大"));
    case Failure::image_changed: return tr(QT_TRANSLATE_NOOP("SlotTile", "镜像已改变"));
    case Failure::no_acknowledgement: return tr(QT_TRANSLATE_NOOP("SlotTile", "无确认"));
    case Failure::transfer_error: return tr(QT_TRANSLATE_NOOP("SlotTile", "传输错误 %1")).arg(failure.code);
    case Failure::interrupted: return tr(QT_TRANSLATE_NOOP("SlotTile", "已中止"));
    case Failure::unplugged: return tr(QT_TRANSLATE_NOOP("SlotTile", "已拔出"));
    case Failure::done_before: return tr(QT_TRANSLATE_NOOP("SlotTile", "已做过"));
    }
    return QString();
}
