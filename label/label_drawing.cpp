#include "label/label_drawing.h"

#include "label/label_content.h"
#include "label/qr_symbol.h"

#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

void draw_label(QPainter *painter, const LabelContent &content, const LabelSettings &settings)
{
    const int width = settings.width_dots(), height = settings.height_dots();
    const int margin = settings.margin_dots();
    painter->fillRect(0, 0, width, height, Qt::white);
    const QrSymbol symbol = qr_symbol(content.qr);
    int left = margin;
    if (symbol.size > 0) {
        // Whole dots a module, with the four-module quiet zone readers need.
        const int module = qMax(1, settings.qr_module_dots(symbol.size));
        const int quiet = 4 * module;
        for (int y = 0; y < symbol.size; ++y) {
            for (int x = 0; x < symbol.size; ++x) {
                if (symbol.at(x, y))
                    painter->fillRect(margin + quiet + x * module, margin + quiet + y * module, module, module, Qt::black);
            }
        }
        left = margin + (symbol.size + 8) * module + margin;
    }
    const int lines = qMax(1, int(content.lines.size()));
    const int line_height = qMax(12, (height - 2 * margin) / lines);
    // As large as the line's height allows, and small enough that the
    // longest line fits beside the code.
    const int room = qMax(1, width - left - margin);
    QFont font(QStringLiteral("Sans"));
    int pixels = line_height * 7 / 10;
    for (;; --pixels) {
        font.setPixelSize(qMax(6, pixels));
        const QFontMetrics metrics(font, painter->device());
        int widest = 0;
        for (const QString &line : content.lines)
            widest = qMax(widest, metrics.horizontalAdvance(line));
        if (widest < room || pixels <= 6)
            break;
    }
    painter->setFont(font);
    painter->setPen(Qt::black);
    for (int i = 0; i < content.lines.size(); ++i) {
        const QRect box(left, margin + i * line_height, room, line_height);
        const QString shown = painter->fontMetrics().elidedText(content.lines[i], Qt::ElideRight, box.width());
        painter->drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }
}

QImage label_image(const LabelContent &content, const LabelSettings &settings)
{
    QImage image(settings.width_dots(), settings.height_dots(), QImage::Format_RGB32);
    const int dots_per_metre = qRound(settings.dpi / 0.0254);
    image.setDotsPerMeterX(dots_per_metre);
    image.setDotsPerMeterY(dots_per_metre);
    QPainter painter(&image);
    draw_label(&painter, content, settings);
    return image;
}

bool write_label_files(const LabelContent &content, const LabelSettings &settings, const QString &name,
                       QString *error)
{
    if (!QDir().mkpath(settings.folder)) {
        *error = QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(settings.folder));
        return false;
    }
    const QString base = QDir(settings.folder).filePath(name);
    if (settings.png) {
        QSaveFile file(base + QStringLiteral(".png"));
        if (!file.open(QIODevice::WriteOnly) || !label_image(content, settings).save(&file, "PNG") || !file.commit()) {
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
            return false;
        }
    }
    if (settings.pdf) {
        QSaveFile file(base + QStringLiteral(".pdf"));
        if (!file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
            return false;
        }
        {
            QPdfWriter pdf(&file);
            pdf.setResolution(settings.dpi);
            pdf.setPageSize(QPageSize(QSizeF(settings.width_mm, settings.height_mm), QPageSize::Millimeter));
            pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
            QPainter painter(&pdf);
            draw_label(&painter, content, settings);
        }
        if (!file.commit()) {
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
            return false;
        }
    }
    return true;
}
