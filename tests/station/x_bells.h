#pragma once

typedef struct _XDisplay Display;

// The bells an X server rings, heard as a client of its own hears them (XKB
// bell notifications): on Linux the station's result sounds are that bell.
class XBells
{
public:
    XBells();  // on $DISPLAY
    ~XBells();
    XBells(const XBells &) = delete;
    XBells &operator=(const XBells &) = delete;

    bool listening() const { return display != nullptr; }
    // The bells of other clients heard so far.
    int heard();
    // Rings a bell of this client's own and counts the others' up to it:
    // exact for every bell the server rang before, since it reports them in
    // the order it rang them.
    int heard_before_marker();

private:
    int read_events(bool stop_at_marker);

    Display *display = nullptr;
    unsigned long marker = 0;
    int event_base = 0, count = 0;
};
