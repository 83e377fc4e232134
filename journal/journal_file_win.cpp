#include "journal/journal_file.h"

#include <QElapsedTimer>

#include <windows.h>

#include <algorithm>

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

bool read_at(HANDLE file, qint64 offset, char *buffer, DWORD size, DWORD *got)
{
    LARGE_INTEGER position {};
    position.QuadPart = offset;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ReadFile(file, buffer, size, got, nullptr);
}

// What closes off a record a crash cut short, judged from the file's end;
// only a journal whose end shows no record start is read whole. Anything but
// a disk file counts as empty.
bool scan(HANDLE file, bool *empty, QByteArray *close_off)
{
    LARGE_INTEGER size {};
    *empty = GetFileType(file) != FILE_TYPE_DISK;
    if (*empty)
        return true;
    if (!GetFileSizeEx(file, &size))
        return false;
    *empty = size.QuadPart == 0;
    if (*empty)
        return true;
    QByteArray tail(int(qMin<qint64>(size.QuadPart, journal_tail_bytes)), Qt::Uninitialized);
    DWORD got = 0;
    if (!read_at(file, size.QuadPart - tail.size(), tail.data(), DWORD(tail.size()), &got))
        return false;
    tail.truncate(int(got));
    if (const std::optional<QByteArray> judged = journal_tail_close_off(tail, tail.size() == size.QuadPart)) {
        *close_off = *judged;
        return true;
    }
    char buffer[65536];
    qint64 quotes = 0;
    for (qint64 offset = 0; offset < size.QuadPart; offset += got) {
        if (!read_at(file, offset, buffer, sizeof buffer, &got))
            return false;
        if (got == 0)
            break;
        quotes += std::count(buffer, buffer + got, '"');
    }
    *close_off = journal_close_off(quotes, tail.isEmpty() ? 0 : tail.at(tail.size() - 1));
    return true;
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
    bool empty = true;
    QByteArray close_off;
    // Only a file whose length is known is ever cut back.
    LARGE_INTEGER before {};
    const bool sized = locked && GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &before);
    if (locked && !scan(file, &empty, &close_off))
        error = system_error();
    if (error.isEmpty()) {
        const QByteArray bytes = (empty ? preamble : close_off) + row;
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
