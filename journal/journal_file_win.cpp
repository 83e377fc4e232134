#include "journal/journal_file.h"

#include <QElapsedTimer>

#include <windows.h>


namespace {

QString system_error()
{
    wchar_t *text = nullptr;
    const DWORD code = GetLastError();
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return message;
}

// Exactly `size` bytes at `offset`: a read may return fewer than asked (a
// network share), which is not the file's end.
bool read_exact(HANDLE file, qint64 offset, char *buffer, qint64 size)
{
    while (size > 0) {
        LARGE_INTEGER position {};
        position.QuadPart = offset;
        DWORD got = 0;
        if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)
            || !ReadFile(file, buffer, DWORD(qMin<qint64>(size, 1 << 20)), &got, nullptr))
            return false;
        if (got == 0) {
            SetLastError(ERROR_HANDLE_EOF);  // the file ended early: someone cut it without the lock
            return false;
        }
        buffer += got;
        offset += got;
        size -= got;
    }
    return true;
}

// What goes in front of the record. Anything but a disk file counts as empty.
bool judge_lead_in(HANDLE file, const QByteArray &preamble, QByteArray *lead_in)
{
    LARGE_INTEGER size {};
    if (GetFileType(file) != FILE_TYPE_DISK) {
        *lead_in = preamble;
        return true;
    }
    if (!GetFileSizeEx(file, &size))
        return false;
    return journal_lead_in(
        size.QuadPart,
        [file](qint64 offset, char *buffer, qint64 bytes) { return read_exact(file, offset, buffer, bytes); },
        preamble, lead_in);
}

// Another program holding the file without write sharing (a spreadsheet that
// opened it) or holding its lock is waited for, but never past the deadline.
bool busy(DWORD code)
{
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

void pause_briefly()
{
    Sleep(10);
}

HANDLE open_before(const QString &path, const QElapsedTimer &clock, int lock_wait_ms, QString *error)
{
    for (;;) {
        const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        if (!busy(GetLastError()) || clock.elapsed() >= lock_wait_ms) {
            *error = system_error();
            return INVALID_HANDLE_VALUE;
        }
        pause_briefly();
    }
}

bool lock_before(HANDLE file, OVERLAPPED *whole, const QElapsedTimer &clock, int lock_wait_ms, QString *error)
{
    for (;;) {
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, whole))
            return true;
        if (!busy(GetLastError()) || clock.elapsed() >= lock_wait_ms) {
            *error = system_error();
            return false;
        }
        pause_briefly();
    }
}

} // namespace

QString append_journal_row(const QString &path, const QByteArray &preamble, const QByteArray &row, int lock_wait_ms)
{
    QElapsedTimer clock;
    clock.start();
    QString error;
    const HANDLE file = open_before(path, clock, lock_wait_ms, &error);
    if (file == INVALID_HANDLE_VALUE)
        return error;
    OVERLAPPED whole {};
    // The whole file, locked against every other process until it is closed.
    const bool locked = lock_before(file, &whole, clock, lock_wait_ms, &error);
    QByteArray lead_in;
    // Only a file whose length is known is ever cut back.
    LARGE_INTEGER before {};
    const bool sized = locked && GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &before);
    if (locked && !judge_lead_in(file, preamble, &lead_in))
        error = system_error();
    if (error.isEmpty()) {
        const QByteArray bytes = lead_in + row;
        DWORD written = 0;
        const LARGE_INTEGER end {};
        if (!SetFilePointerEx(file, end, nullptr, FILE_END)
            || !WriteFile(file, bytes.constData(), DWORD(bytes.size()), &written, nullptr)
            || written != DWORD(bytes.size()) || !FlushFileBuffers(file)) {
            error = system_error();
            // No half record stays behind.
            if (sized && SetFilePointerEx(file, before, nullptr, FILE_BEGIN) && SetEndOfFile(file))
                FlushFileBuffers(file);
        }
    }
    if (locked)
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(file);
    return error;
}
