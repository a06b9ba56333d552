#pragma once

#include <QString>

class QWidget;

// Flags of PlayWave, kept for the callers that pass them; playing is always asynchronous
// and never falls back on a default sound.
enum SoundFlags : quint16 { SndAsync = 1, SndNoDefault = 2 };

// Plays a sound from the snd folder beside the executable, without waiting.
void PlayWave(const QString &fileName, quint16 flags);

// Signals the window for as long as Times flashes of Milliseconds each would take, and
// returns at once: the window keeps working and ends in its normal look.
void FlashWindowTimes(QWidget *window, qint16 times, qint16 milliseconds);
