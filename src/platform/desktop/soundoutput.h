#pragma once

#include <QString>

#include <memory>

class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Plays a wave file and returns when it has ended. A file that cannot be played
    // gives the desktop's default sound instead; with no sound output at all the call
    // returns at once.
    virtual void sndPlaySound(const QString& wavePath) = 0;
};

// This system's sound output.
std::unique_ptr<SoundOutput> createSoundOutput();
