#include "tests/support/zpl_printer_sim.h"

#include <QTcpSocket>

ZplPrinterSim::ZplPrinterSim()
{
    server.listen(QHostAddress::LocalHost);
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *client = server.nextPendingConnection()) {
            auto *received = new QByteArray;
            connect(client, &QTcpSocket::readyRead, this, [this, client, received] {
                *received += client->readAll();
                if (silent || !received->contains("~HS"))
                    return;
                received->replace("~HS", "");
                ++status_asked;
                // The three strings of ~HS, as a printer gives them.
                const QByteArray first = "\x02" "030," + QByteArray(paper_out ? "1" : "0") + ',' + (paused ? "1" : "0")
                                         + ",0812,000,0,0,0,000,0,0,0\x03\r\n";
                const QByteArray second = "\x02" "000,0," + QByteArray(head_open ? "1" : "0") + ",0,0,2,4,0,00000000,1,000\x03\r\n";
                client->write(first + second + "\x02" "1234,0\x03\r\n");
            });
            connect(client, &QTcpSocket::disconnected, this, [this, client, received] {
                *received += client->readAll();
                const int start = received->indexOf("^XA"), end = received->lastIndexOf("^XZ");
                if (start >= 0 && end > start) {
                    jobs << received->mid(start, end + 3 - start);
                    if (on_job)
                        on_job(jobs.last());
                }
                delete received;
                client->deleteLater();
            });
        }
    });
}
