#pragma once

#include <QByteArray>
#include <QString>

// A raw pseudo-terminal: the code under test opens slave_path() like a serial
// port, the test plays the device on master(). An own slave descriptor keeps
// the master from seeing a hang-up while the port is closed.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair() { hang_up(); }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool ok() const { return master_fd >= 0; }
    QString slave_path() const { return path; }
    int master() const { return master_fd; }

    void write(const QByteArray &bytes);
    // What arrives until the line has been quiet for quiet_ms, at most timeout_ms.
    QByteArray read_for(int quiet_ms, int timeout_ms);
    // Closes both ends held here: the far side sees the device vanish.
    void hang_up();

private:
    int master_fd = -1;
    int own_slave_fd = -1;
    QString path;
};
