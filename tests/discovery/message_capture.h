#pragma once

#include <QStringList>

// Collects what the code under test writes to Qt's debug output while it is
// alive, so that tests can check trace lines and warnings. One at a time.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();

    // Lines of one message type, in the order they were written.
    QStringList lines(QtMsgType type) const;
    int count_containing(QtMsgType type, const QString &fragment) const { return lines(type).filter(fragment).size(); }
};
