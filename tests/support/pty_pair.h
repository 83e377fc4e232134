#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal in raw mode for tests: the code under test opens
// slave_path() like a serial port; the test plays the device on the master.
// Keeps a slave descriptor of its own open so the master never sees a hang-up
// while the code under test has the port closed.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool ok() const { return master_fd >= 0; }
    QString slave_path() const { return path; }
    int master() const { return master_fd; }

    void write(const QByteArray &bytes);
    // Everything that arrives until the line has been quiet for quiet_ms, or
    // until timeout_ms in all.
    QByteArray read_for(int quiet_ms, int timeout_ms);
    // Exactly n bytes (or fewer if timeout_ms passes first).
    QByteArray read_exact(int n, int timeout_ms);
    // Closes the master: the far side then sees the device vanish.
    void hang_up();

private:
    int master_fd = -1;
    int own_slave_fd = -1;
    QString path;
};
