#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// Collects what the code under test writes to Qt's debug output while it is
// alive, so that tests can check trace lines and warnings. One at a time.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    // Lines of one message type, in the order they were written.
    QList<QString> lines(QtMsgType type) const;
    // Lines of that type that contain the fragment.
    int count_containing(QtMsgType type, const QString &fragment) const;
    void clear();
};
