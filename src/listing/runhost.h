#pragma once

#include <QString>

// What a listing run needs from the program around it: somewhere to show the folder
// being worked on, and a way to let pending events through so that Abort can arrive.
class RunHost {
public:
    virtual ~RunHost() = default;
    virtual void setStatusText(const QString& text) = 0;
    virtual void pumpEvents() = 0;
};
