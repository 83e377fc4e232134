#include "station/station.h"

#include "line/line_mode.h"
#include "line/usb_port_source.h"
#include "runner/served_modules.h"
#include "station/station_window.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>

namespace {

// Without device-change events, how often to look for modules.
constexpr int rescan_ms = 1000;

ModuleSession::Request request_of(const Recipe &recipe, const Journal &journal)
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
    if (recipe.again != AgainPolicy::allow)
        request.done_before = std::make_shared<DoneBefore>(QFileInfo(journal.path()).absolutePath(), recipe.database_url);
    bool set = false;
    // Tests shorten the time a module counts as the one served before.
    const int same_module_ms = qEnvironmentVariableIntValue("KV20_SAME_MODULE_MS", &set);
    request.served = std::make_shared<ServedModules>(set ? same_module_ms : ServedModules::same_module_ms);
    // A port that has just appeared may still be probed by another program
    // or set up by its driver.
    request.open_retry_ms = 3000;
    return request;
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
    , line_(std::make_unique<LineMode>(request_of(recipe, journal), journal))
    , window_(std::make_unique<StationWindow>(recipe, line_.get()))
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
