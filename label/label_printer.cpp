#include "label/label_printer.h"

#include "label/label_drawing.h"
#include "label/label_settings.h"
#include "label/zpl_label.h"
#include "label/zpl_printer.h"

namespace {

// One PNG and/or PDF file a label, named after it, for a printer fed by
// another program or for checking by eye.
class FolderPrinter : public LabelPrinter
{
public:
    explicit FolderPrinter(const LabelSettings &settings) : settings(settings) {}
    PrintResult print(const LabelContent &content, const QString &name) override
    {
        QString error;
        if (!write_label_files(content, settings, name, &error))
            return {PrintResult::refused, error};
        return {};
    }

private:
    LabelSettings settings;
};

class QueuePrinter : public LabelPrinter
{
public:
    explicit QueuePrinter(const LabelSettings &settings) : settings(settings) {}
    PrintResult print(const LabelContent &content, const QString &name) override
    {
        return print_to_queue(settings.queue, zpl_label(content, settings), name);
    }

private:
    LabelSettings settings;
};

} // namespace

std::unique_ptr<LabelPrinter> make_label_printer(const LabelSettings &settings)
{
    switch (settings.printer) {
    case LabelSettings::Printer::zpl: return std::make_unique<ZplPrinter>(settings);
    case LabelSettings::Printer::queue: return std::make_unique<QueuePrinter>(settings);
    case LabelSettings::Printer::folder: return std::make_unique<FolderPrinter>(settings);
    case LabelSettings::Printer::none: break;
    }
    return nullptr;
}
