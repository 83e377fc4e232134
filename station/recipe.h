#pragma once

#include "label/label_settings.h"
#include "runner/done_before.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// What a station serves, as an engineer wrote it in station.ini; the operator
// cannot change it from the window. A relative image path is taken from the
// recipe's folder, so that a station's folder can be copied to the next PC.
struct Recipe
{
    QString path;          // the recipe file, absolute
    quint8 type = 0;       // operation::device_query, audio_replacement or firmware_upgrade
    QString image;         // absolute; empty for a query
    qint64 image_bytes = 0;
    QByteArray image_sha256;  // lower-case hex, of the image as read now
    QByteArray recipe_sha256;  // lower-case hex, of the recipe file as read
    QString work_order;    // [recipe] work_order, product: into every record
    QString product;
    AgainPolicy again = AgainPolicy::allow;  // [recipe] again
    bool cellular = true;
    int target = 0;        // 0: no shift target
    bool sound = true;
    // [database] url: where the station's records are uploaded; empty: the
    // journal is all.
    QString database_url;
    // [slots]: a position on the USB tree and its name, in the file's order,
    // the order of the tiles.
    QList<QPair<QString, QString>> named_slots;
    // [operators]: id = name, the ids that may sign in; empty: any id.
    QHash<QString, QString> operators;
    // [label]: a label for every pass; printer none: no labels.
    LabelSettings label;
};

// False with the operator's message (naming the file and the key) when the
// recipe cannot be served: missing, a key missing or wrong, an image that
// cannot be read or whose SHA-256 is not the recipe's.
bool read_recipe(const QString &path, Recipe *recipe, QString *error);
