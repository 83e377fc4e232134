#include "label/label_printer.h"

#include <windows.h>
#include <winspool.h>

namespace {

PrintResult refused(const char *step)
{
    return {PrintResult::refused, QStringLiteral("%1 failed (error %2)").arg(QLatin1String(step)).arg(GetLastError())};
}

} // namespace

// The spooler's RAW data type: the printer gets the ZPL as it stands.
PrintResult print_to_queue(const QString &queue, const QByteArray &zpl, const QString &name)
{
    HANDLE printer = nullptr;
    std::wstring printer_name = queue.toStdWString();
    if (!OpenPrinterW(printer_name.data(), &printer, nullptr))
        return refused("OpenPrinter");
    std::wstring document = name.toStdWString();
    wchar_t raw[] = L"RAW";
    DOC_INFO_1W info {document.data(), nullptr, raw};
    PrintResult result;
    if (StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&info)) == 0) {
        result = refused("StartDocPrinter");
    } else {
        DWORD written = 0;
        if (!StartPagePrinter(printer))
            result = refused("StartPagePrinter");
        else if (!WritePrinter(printer, const_cast<char *>(zpl.constData()), DWORD(zpl.size()), &written)
                 || written != DWORD(zpl.size()))
            result = refused("WritePrinter");
        EndPagePrinter(printer);
        EndDocPrinter(printer);
    }
    ClosePrinter(printer);
    return result;
}
