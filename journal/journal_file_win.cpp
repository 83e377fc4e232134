#include "journal/journal_file.h"

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

bool scan(HANDLE file, bool *empty, qint64 *quotes, char *last)
{
    *quotes = 0;
    *last = 0;
    *empty = GetFileType(file) != FILE_TYPE_DISK;
    if (*empty)
        return true;
    LARGE_INTEGER position {};
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
        return false;
    char buffer[65536];
    DWORD n = 0;
    qint64 total = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        for (DWORD i = 0; i < n; ++i)
            *quotes += buffer[i] == '"';
        *last = buffer[n - 1];
        total += n;
    }
    *empty = total == 0;
    return true;
}

} // namespace

QString append_journal_row(const QString &path, const QByteArray &preamble, const QByteArray &row)
{
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()),
                                    GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return system_error();
    QString error;
    OVERLAPPED whole {};
    // The whole file, locked against every other process until it is closed.
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
        error = system_error();
    bool empty = true;
    qint64 quotes = 0;
    char last = 0;
    if (error.isEmpty() && !scan(file, &empty, &quotes, &last))
        error = system_error();
    if (error.isEmpty()) {
        const QByteArray bytes = (empty ? preamble : journal_close_off(quotes, last)) + row;
        DWORD written = 0;
        if (!WriteFile(file, bytes.constData(), DWORD(bytes.size()), &written, nullptr)
            || written != DWORD(bytes.size()) || !FlushFileBuffers(file))
            error = system_error();
    }
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(file);
    return error;
}
