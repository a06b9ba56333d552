#pragma once

class Console;
class clsDebug;
struct Options;

// "-" as the sprite: the sprite is read from standard input and its mask written to standard
// output, PNG for a PNG sprite (by its signature), BMP for any other, or --format's. Nothing
// else is written to standard output; a failure is told on standard error. Returns the exit
// code. `log` gets the window's entry for the mask, as for a file.
int maskStandardInput(const Options &options, Console &console, clsDebug &log);
