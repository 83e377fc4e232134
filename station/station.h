#pragma once

#include "journal/journal.h"
#include "line/usb_port_source.h"
#include "station/recipe.h"

#include <memory>

class DoneBefore;
class LabelQueue;
class LineMode;
class LineModeView;
class StationWindow;

// A station as the operator starts it: its recipe read and checked, its
// journal (kv20-journal.csv in the working directory, the user's data
// folder its last resort), line mode serving
// every module on the USB tree with tool "station", the window showing it,
// and, with a [database] url, the journal uploaded as records reach it.
// Nothing reaches a module unless the recipe was read whole.
class Station
{
public:
    // Null with the operator's message when the recipe cannot be served.
    static std::unique_ptr<Station> open(const QString &recipe_path, QString *error);
    ~Station();

    StationWindow *window() const { return window_.get(); }
    LineMode *line() const { return line_.get(); }
    // Shows the window and starts serving, told to the window, or to `view`
    // (a benchmark's, in front of the window).
    void start(LineModeView *view = nullptr);

private:
    explicit Station(const Recipe &recipe);

    Recipe recipe;
    Journal journal;
    UsbPortSource ports;
    std::shared_ptr<DoneBefore> done_before;
    // Before the window, which tells it of every result, and after line mode
    // in its end: the window and line mode are gone before it.
    std::unique_ptr<LabelQueue> labels;
    std::unique_ptr<LineMode> line_;
    std::unique_ptr<StationWindow> window_;
};
