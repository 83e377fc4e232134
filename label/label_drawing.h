#pragma once

#include <QImage>
#include <QString>

class QPainter;
struct LabelContent;
struct LabelSettings;

// The label as it prints, drawn here for a folder printer and the window's
// preview: white, the QR code on the left with its quiet zone, the lines to
// its right, on a canvas of the label's size in dots.
void draw_label(QPainter *painter, const LabelContent &content, const LabelSettings &settings);
QImage label_image(const LabelContent &content, const LabelSettings &settings);

// `name`.png and/or `name`.pdf (settings.png, settings.pdf) in
// settings.folder, each whole or not at all; false with why.
bool write_label_files(const LabelContent &content, const LabelSettings &settings, const QString &name,
                       QString *error);
