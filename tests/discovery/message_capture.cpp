#include "message_capture.h"

#include <QMutex>
#include <QMutexLocker>
#include <QPair>

namespace {

QMutex capture_lock;
QList<QPair<QtMsgType, QString>> captured;
bool capturing = false;
QtMessageHandler previous_handler = nullptr;

void capture_handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    QMutexLocker locker(&capture_lock);
    captured.append({type, message});
}

} // namespace

MessageCapture::MessageCapture()
{
    QMutexLocker locker(&capture_lock);
    Q_ASSERT(!capturing);
    capturing = true;
    captured.clear();
    previous_handler = qInstallMessageHandler(capture_handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previous_handler);
    QMutexLocker locker(&capture_lock);
    capturing = false;
    captured.clear();
}

QList<QString> MessageCapture::lines(QtMsgType type) const
{
    QMutexLocker locker(&capture_lock);
    QList<QString> result;
    for (const auto &entry : qAsConst(captured)) {
        if (entry.first == type)
            result.append(entry.second);
    }
    return result;
}

int MessageCapture::count_containing(QtMsgType type, const QString &fragment) const
{
    int count = 0;
    for (const QString &line : lines(type)) {
        if (line.contains(fragment))
            ++count;
    }
    return count;
}

void MessageCapture::clear()
{
    QMutexLocker locker(&capture_lock);
    captured.clear();
}
