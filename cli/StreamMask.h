#pragma once

class Console;
class clsDebug;
struct Options;

// "-" as the sprite: the sprite is read from standard input and its mask written to standard
// output, PNG for a PNG sprite (by its signature), BMP for any other, or --format's. Nothing
// else is written to standard output; a failure is told on standard error. Returns the exit
// code. `log` gets the window's entry for the mask, as for a file: "Can't load" when the
// sprite cannot be read, the masking error when the mask cannot be written. The stream is
// checked as it comes (a non-picture refused at its first bytes, a stream longer than its
// header's picture can be refused there) and kept in an unnamed scratch file, as is the mask
// before it is sent: nothing of them outlives the process. A signal or a reader gone ends
// the run with 128 + the signal.
int maskStandardInput(const Options &options, Console &console, clsDebug &log);

// Removes from the temporary folder the scratch files of standard input's runs that a kill
// left: named ones whose PID names no live process of this machine, and the folders earlier
// versions made (`pelloran-mask-XXXXXX`, empty or holding only their mask) untouched for ten
// minutes. Only the user's own; each removal is said on standard error.
void removeOrphanedScratch(Console &console);
