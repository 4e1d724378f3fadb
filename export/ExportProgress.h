#pragma once

// Hooks an export calls while it runs, so that the window can show progress and stay usable.
// Every member is optional: an empty function is simply not called (cancelled then reads false).
//
// Call order: setMax(max) once at the start (the bar's maximum, its position back to 0); after each
// grid row written, step() and then processEvents(); cancelled() before each grid row, and when it
// returns true the export stops before touching anything else (the window is going away).

#include <functional>

struct ExportProgress {
    std::function<void(int max)> setMax;
    std::function<void()> step; // advance by one
    std::function<void()> processEvents;
    std::function<bool()> cancelled;

    void SetMax(int max) const {
        if (setMax)
            setMax(max);
    }
    void Step() const {
        if (step)
            step();
    }
    void ProcessEvents() const {
        if (processEvents)
            processEvents();
    }
    bool Cancelled() const { return cancelled && cancelled(); }
};
