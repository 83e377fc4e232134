// The acknowledgement handling of an image download, and the transfer that
// follows it, against a module whose answers come from the fuzzer.
#include "fuzz/fuzz_oracles.h"
#include "fuzz/fuzz_targets.h"
#include "protocol/download_session.h"

#include <QFile>
#include <QTemporaryDir>

#include <atomic>

namespace {

const QList<QByteArray> module_tokens = {
    QByteArrayLiteral("+ok\r\n\r\n"),
    QByteArrayLiteral("+ok\r\n\r\nC"),
    QByteArrayLiteral("C"),
    QByteArray(1, 0x06),  // ACK
    QByteArray(1, 0x15),  // NAK
    QByteArray(1, 0x18),  // CAN
    QByteArray(1, '\0'),
    QByteArrayLiteral("\r\n"),
    QByteArrayLiteral("+OK\r\n\r\n"),
    QByteArrayLiteral("+ok\r\n"),
};

// One image file for the whole run; a session must send exactly its bytes.
struct ImageFile
{
    ImageFile()
    {
        for (int i = 0; i < 3000; ++i)
            bytes.append(static_cast<char>(i * 53 + 7));
        path = dir.path() + QStringLiteral("/image.bin");
        missing = dir.path() + QStringLiteral("/no-such-image.bin");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write the image file %s", qPrintable(path));
    }
    QTemporaryDir dir;
    QByteArray bytes;
    QString path;
    QString missing;
};

const ImageFile &image_file()
{
    static const ImageFile file;
    return file;
}

} // namespace

const QByteArray &fuzz_download_image()
{
    return image_file().bytes;
}

QString check_download_run(const std::vector<FuzzEvent> &trace, const QByteArray &image, ImagePath path, quint8 type,
                           quint8 block_mode, int result)
{
    const QString setup = QStringLiteral("type %1, path %2, block mode %3").arg(type).arg(int(path)).arg(block_mode);
    auto finding = [&](const QString &what, int around = -1) {
        return QStringLiteral("%1: %2\n%3").arg(setup, what, format_trace(trace, around));
    };
    if (result != 0 && result != -1)
        return finding(QStringLiteral("result %1").arg(result));

    // 0 needs the acknowledgement in the first read behind the command, in
    // the bytes before any NUL.
    bool acknowledged = false;
    bool command_sent = false;
    size_t transfer_start = trace.size();
    for (size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].kind == FuzzEvent::write_data && !command_sent) {
            command_sent = true;
        } else if (trace[i].kind == FuzzEvent::read_all && command_sent) {
            const QByteArray visible = reference::before_nul(trace[i].bytes);
            acknowledged = reference::index_of(visible, QByteArrayLiteral("+ok\r\n\r\n")) >= 0;
            transfer_start = i + 1;
            break;
        }
    }
    if (result == 0 && !acknowledged)
        return finding(QStringLiteral("success without \"+ok\\r\\n\\r\\n\" before a NUL in the reply"));

    const std::vector<FuzzEvent> transfer(trace.begin() + static_cast<long>(transfer_start), trace.end());
    const QString frames = check_xmodem_frames(transfer, image, block_mode);
    if (!frames.isEmpty())
        return finding(frames);

    TraceCursor c(trace);
    const int expected = expect_download(c, image, path, type, block_mode);
    c.expect_end(QStringLiteral("after the session returned"));
    if (!c.ok())
        return finding(c.error, c.position());
    if (result != expected)
        return finding(QStringLiteral("result %1, expected %2").arg(result).arg(expected));
    return QString();
}

QString fuzz_download_ack(const std::uint8_t *data, std::size_t size, FuzzOutcome *outcome)
{
    if (size == 0)
        return QString();
    const ImageFile &file = image_file();
    // First byte: operation type (bits 0-1), image path (bits 2-3: valid,
    // valid, empty, missing), block mode (bit 4).
    static const quint8 types[] = {1, 2, 0, 200};
    const quint8 type = types[data[0] & 3];
    static const ImagePath paths[] = {ImagePath::valid, ImagePath::valid, ImagePath::empty, ImagePath::missing};
    const ImagePath path = paths[(data[0] >> 2) & 3];
    const quint8 mode = (data[0] >> 4) & 1;
    const std::atomic<quint8> block_mode {mode};

    // The path the session must not read points at the real image, so that
    // taking the wrong field shows up as a session that should have failed.
    flash_parameter request;
    const QString chosen = path == ImagePath::valid ? file.path : path == ImagePath::missing ? file.missing : QString();
    request.fw_path = type == 1 ? file.path : chosen;
    request.fs_path = type == 1 ? chosen : file.path;
    request.fw_addr = request.fs_addr = QStringLiteral("0x0");

    FuzzScript script(data + 1, size - 1);
    std::vector<FuzzEvent> trace;
    FuzzLink link(script, trace, module_tokens);
    FuzzReports reports(trace);
    const int result = download_image(link, reports, request, type, block_mode);
    if (outcome) {
        outcome->result = result;
        outcome->trace = trace;
    }
    return check_download_run(trace, file.bytes, path, type, mode, result);
}

KV20_FUZZ_ENTRY(fuzz_download_ack)
