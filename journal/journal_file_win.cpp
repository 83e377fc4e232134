#include "journal/journal_file.h"

#include <QDir>
#include <QElapsedTimer>

#include <cstring>
#include <string>
#include <vector>

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
        // No DELETE access: a reader that shares the file for reading and
        // writing but not for deleting (QFile, fopen) still lets it open.
        // Delete sharing, so that an outdated journal can be renamed while
        // this handle holds the lock.
        const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
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

// A handle with DELETE access to the file at `path`, for renaming it, when
// that is still `file` (another writer may have set it aside between our
// open and our lock); else INVALID_HANDLE_VALUE with *gone set. A reader
// without delete sharing refuses DELETE access: waited for, but never past
// the deadline.
HANDLE open_for_rename(HANDLE file, const QString &path, const QElapsedTimer &clock, int lock_wait_ms, bool *gone)
{
    *gone = false;
    HANDLE there;
    for (;;) {
        there = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (there != INVALID_HANDLE_VALUE)
            break;
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) {
            *gone = true;
            return INVALID_HANDLE_VALUE;
        }
        if (!busy(code) || clock.elapsed() >= lock_wait_ms)
            return INVALID_HANDLE_VALUE;
        pause_briefly();
    }
    BY_HANDLE_FILE_INFORMATION ours {}, theirs {};
    const bool same = GetFileInformationByHandle(file, &ours) && GetFileInformationByHandle(there, &theirs)
                      && ours.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber
                      && ours.nFileIndexHigh == theirs.nFileIndexHigh && ours.nFileIndexLow == theirs.nFileIndexLow;
    if (!same) {
        CloseHandle(there);
        *gone = true;
        return INVALID_HANDLE_VALUE;
    }
    return there;
}

bool rename_handle(HANDLE file, const QString &to)
{
    const std::wstring name = QDir::toNativeSeparators(to).toStdWString();
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + (name.size() + 1) * sizeof(wchar_t));
    auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = DWORD(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle(file, FileRenameInfo, info, DWORD(buffer.size()));
}

// Sets the file aside when it is an outdated journal, through a handle of
// its own with DELETE access. True when the caller is to open `path` afresh.
bool set_aside_if_outdated(HANDLE file, const QString &path, const QByteArray &preamble, const QElapsedTimer &clock,
                           int lock_wait_ms, QString *error)
{
    LARGE_INTEGER size {};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) || size.QuadPart == 0)
        return false;
    bool outdated = false;
    if (!journal_outdated(
            size.QuadPart,
            [file](qint64 offset, char *buffer, qint64 bytes) { return read_exact(file, offset, buffer, bytes); },
            preamble, &outdated)) {
        *error = system_error();
        return false;
    }
    if (!outdated)
        return false;
    bool gone = false;
    const HANDLE renamer = open_for_rename(file, path, clock, lock_wait_ms, &gone);
    if (gone)
        return true;
    const bool renamed = renamer != INVALID_HANDLE_VALUE && rename_handle(renamer, older_journal_path(path));
    if (!renamed)
        *error = QStringLiteral("an older journal cannot be set aside: ") + system_error();
    if (renamer != INVALID_HANDLE_VALUE)
        CloseHandle(renamer);
    return renamed;
}

} // namespace

QString append_journal_row(const QString &path, const QByteArray &preamble, const QByteArray &row, int lock_wait_ms)
{
    QElapsedTimer clock;
    clock.start();
    for (int attempt = 0;; ++attempt) {
        QString error;
        const HANDLE file = open_before(path, clock, lock_wait_ms, &error);
        if (file == INVALID_HANDLE_VALUE)
            return error;
        OVERLAPPED whole {};
        // The whole file, locked against every other process until it is closed.
        const bool locked = lock_before(file, &whole, clock, lock_wait_ms, &error);
        if (locked && set_aside_if_outdated(file, path, preamble, clock, lock_wait_ms, &error)) {
            UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
            CloseHandle(file);
            if (attempt < 3)
                continue;
            return QStringLiteral("the journal keeps being replaced");
        }
        QByteArray lead_in;
        // Only a file whose length is known is ever cut back.
        LARGE_INTEGER before {};
        const bool sized = locked && GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &before);
        if (locked && error.isEmpty() && !judge_lead_in(file, preamble, &lead_in))
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
}
