#include "station/recipe.h"

#include "db/pg_link.h"
#include "interfaces/flash_parameter.h"
#include "journal/ini_file.h"
#include "journal/operation_record.h"
#include "protocol/download_session.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

QString text(const char *source)
{
    return QCoreApplication::translate("Recipe", source);
}

} // namespace

bool read_recipe(const QString &path, Recipe *recipe, QString *error)
{
    const QString file = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    recipe->path = file;
    IniFile ini;
    // The bytes the recipe is served under: hashed where they are read, so
    // that the records name what the station read, not a later edit.
    QFile recipe_file(path);
    if (recipe_file.open(QIODevice::ReadOnly))
        recipe->recipe_sha256 = QCryptographicHash::hash(recipe_file.readAll(), QCryptographicHash::Sha256).toHex();
    if (!recipe_file.isOpen() || !read_ini(path, &ini)) {
        *error = text("无法读取配方文件 %1").arg(file);
        return false;
    }
    const auto missing = [&](const char *key, const char *section = "recipe") {
        *error = text("配方 %1：缺少 [%2] %3").arg(file, QLatin1String(section), QLatin1String(key));
        return false;
    };
    const auto invalid = [&](const char *key, const QString &value) {
        *error = text("配方 %1：[recipe] %2=%3 无效").arg(file, QLatin1String(key), value);
        return false;
    };
    const QString operation_word = ini.values.value(QStringLiteral("recipe/operation"));
    const QStringList operations {QStringLiteral("query"), QStringLiteral("audio"), QStringLiteral("firmware")};
    if (operation_word.isEmpty())
        return missing("operation");
    if (!operations.contains(operation_word))
        return invalid("operation", operation_word);
    const quint8 types[] = {operation::device_query, operation::audio_replacement, operation::firmware_upgrade};
    recipe->type = types[operations.indexOf(operation_word)];

    const QString variant = ini.values.value(QStringLiteral("recipe/variant"), QStringLiteral("cellular"));
    if (variant != QLatin1String("cellular") && variant != QLatin1String("wifi"))
        return invalid("variant", variant);
    recipe->cellular = variant == QLatin1String("cellular");

    const QString target = ini.values.value(QStringLiteral("recipe/target"));
    bool number = true;
    recipe->target = target.isEmpty() ? 0 : target.toInt(&number);
    if (!number || recipe->target < 0)
        return invalid("target", target);
    const QString sound = ini.values.value(QStringLiteral("recipe/sound"), QStringLiteral("on"));
    if (sound != QLatin1String("on") && sound != QLatin1String("off"))
        return invalid("sound", sound);
    recipe->sound = sound == QLatin1String("on");
    const QString again = ini.values.value(QStringLiteral("recipe/again"), QStringLiteral("allow"));
    if (!read_again_policy(again, &recipe->again))
        return invalid("again", again);
    recipe->work_order = ini.values.value(QStringLiteral("recipe/work_order")).trimmed();
    recipe->product = ini.values.value(QStringLiteral("recipe/product")).trimmed();
    // The order of [slots] is the order of the tiles.
    recipe->named_slots = ini.lines.value(QStringLiteral("slots"));
    for (const auto &listed : ini.lines.value(QStringLiteral("operators")))
        recipe->operators.insert(listed.first.trimmed(), listed.second.trimmed());
    const QString url_key = QStringLiteral("database/url");
    recipe->database_url = ini.values.value(url_key);
    if (ini.values.contains(url_key) && recipe->database_url.isEmpty())
        return missing("url", "database");
    // The value is not shown: it may hold a password.
    if (!recipe->database_url.isEmpty() && !PgLink::readable(recipe->database_url)) {
        *error = text("配方 %1：[database] url 不是 PostgreSQL 连接 URI（postgresql://USER@HOST:PORT/DATABASE）").arg(file);
        return false;
    }

    if (!read_label_settings(ini, path, &recipe->label, error))
        return false;

    if (recipe->type == operation::device_query)
        return true;
    const QString image = ini.values.value(QStringLiteral("recipe/image"));
    if (image.isEmpty())
        return missing("image");
    // Relative to the recipe, not to wherever the station was started.
    recipe->image = QDir::cleanPath(QFileInfo(path).absoluteDir().absoluteFilePath(image));
    QByteArray bytes;
    const Failure unreadable = image_read_failure(read_image_file(recipe->image, &bytes));
    if (unreadable != Failure::none) {
        *error = text("配方 %1：镜像 %2 无法读取（%3）")
                     .arg(file, QDir::toNativeSeparators(recipe->image), journal_words(unreadable));
        return false;
    }
    recipe->image_bytes = bytes.size();
    recipe->image_sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    const QString wanted = ini.values.value(QStringLiteral("recipe/image_sha256")).toLower();
    // A station writes modules only with the image its recipe names by
    // hash: a file replaced beside the recipe is never served unnoticed.
    if (wanted.isEmpty()) {
        *error = text("配方 %1：缺少 [recipe] image_sha256（image_sha256=%2）")
                     .arg(file, QString::fromLatin1(recipe->image_sha256));
        return false;
    }
    if (!QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(wanted).hasMatch())
        return invalid("image_sha256", wanted);
    if (wanted.toLatin1() != recipe->image_sha256) {
        *error = text("配方 %1：镜像 %2 的 SHA-256 是 %3，不是 [recipe] image_sha256 的 %4")
                     .arg(file, QDir::toNativeSeparators(recipe->image), QString::fromLatin1(recipe->image_sha256), wanted);
        return false;
    }
    return true;
}
