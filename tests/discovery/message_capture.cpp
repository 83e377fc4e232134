#include "message_capture.h"

#include <QMutex>

namespace {

// Messages may come from any thread.
QMutex capture_lock;
QList<QPair<QtMsgType, QString>> captured;
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
    captured.clear();
    previous_handler = qInstallMessageHandler(capture_handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previous_handler);
}

QStringList MessageCapture::lines(QtMsgType type) const
{
    QMutexLocker locker(&capture_lock);
    QStringList result;
    for (const auto &entry : qAsConst(captured)) {
        if (entry.first == type)
            result << entry.second;
    }
    return result;
}
