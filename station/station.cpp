#include "station/station.h"

#include "db/station_journals.h"
#include "journal/station_name.h"
#include "label/label_queue.h"
#include "line/line_mode.h"
#include "line/usb_port_source.h"
#include "runner/served_modules.h"
#include "station/station_window.h"
#include "station/work_order_passes.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>

namespace {

// Without device-change events, how often to look for modules.
constexpr int rescan_ms = 1000;

ModuleSession::Request request_of(const Recipe &recipe, const std::shared_ptr<DoneBefore> &done_before)
{
    ModuleSession::Request request;
    request.type = recipe.type;
    request.image = recipe.image;
    request.cellular = recipe.cellular;
    request.tool = QStringLiteral("station");
    // The image as the recipe checked it: one changed since is refused.
    request.image_sha256 = recipe.image_sha256;
    request.work_order = recipe.work_order;
    request.product = recipe.product;
    request.recipe_sha256 = recipe.recipe_sha256;
    request.again = recipe.again;
    request.done_before = done_before;
    bool set = false;
    // Tests shorten the time a module counts as the one served before.
    const int same_module_ms = qEnvironmentVariableIntValue("KV20_SAME_MODULE_MS", &set);
    request.served = std::make_shared<ServedModules>(set ? same_module_ms : ServedModules::same_module_ms);
    // A port that has just appeared may still be probed by another program
    // or set up by its driver.
    request.open_retry_ms = 3000;
    return request;
}

std::shared_ptr<DoneBefore> done_before_of(const Recipe &recipe, const QString &folder)
{
    if (recipe.again == AgainPolicy::allow)
        return nullptr;
    return std::make_shared<DoneBefore>(station_name(folder), recipe.database_url);
}

// The target counts the work order's modules, when the recipe names both.
std::unique_ptr<WorkOrderPasses> passes_of(const Recipe &recipe)
{
    if (recipe.target <= 0 || recipe.work_order.isEmpty())
        return nullptr;
    return std::make_unique<WorkOrderPasses>(recipe.work_order, operation_name(recipe.type));
}

// The records kept before this start, read once for all that want them.
std::unique_ptr<WorkOrderPasses> read_at_start(const Recipe &recipe, const QString &folder, DoneBefore *done_before)
{
    std::unique_ptr<WorkOrderPasses> passes = passes_of(recipe);
    if (done_before || passes)
        read_ok_records(folder, [&](const JournalReader &reader) {
            if (done_before)
                done_before->take(reader);
            if (passes)
                passes->take(reader);
        });
    return passes;
}

} // namespace

std::unique_ptr<Station> Station::open(const QString &recipe_path, QString *error)
{
    Recipe recipe;
    if (!read_recipe(recipe_path, &recipe, error))
        return nullptr;
    return std::unique_ptr<Station>(new Station(recipe));
}

Station::Station(const Recipe &recipe)
    : recipe(recipe)
    // A record neither the journal nor its side file takes (the working
    // directory's disk full) goes to the user's data folder, on another
    // disk as often as not.
    , journal(Journal::default_path, QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
    , done_before(done_before_of(recipe, QFileInfo(journal.path()).absolutePath()))
    , labels(recipe.label.enabled()
                 ? std::make_unique<LabelQueue>(recipe.label, recipe.cellular, QFileInfo(journal.path()).absolutePath())
                 : nullptr)
    , line_(std::make_unique<LineMode>(request_of(recipe, done_before), journal))
    , window_(std::make_unique<StationWindow>(
          recipe, line_.get(), read_at_start(recipe, QFileInfo(journal.path()).absolutePath(), done_before.get()),
          labels.get()))
{
    // The window is gone within 2 s of its close, whatever the database does:
    // line mode gives a batch on its way 1.5 s of it, from the close on.
    if (!recipe.database_url.isEmpty())
        line_->upload_to(recipe.database_url);
}

// The window goes first: line mode's sessions end with it, after the window
// has stopped it.
Station::~Station()
{
    line_->stop();
    window_.reset();
}

void Station::start(LineModeView *view)
{
    // Centred on the screen and no larger: where the system would place a
    // window, sixteen tiles reach past the edge of a 1366x768 screen.
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    window_->setGeometry(
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window_->sizeHint().boundedTo(room.size()), room));
    window_->show();
    // Nobody signed in yet: the modules wait, untouched.
    line_->set_operator(QString());
    line_->watch(&ports, rescan_ms, view ? view : window_.get());
}
