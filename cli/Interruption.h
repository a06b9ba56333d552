#pragma once

#include <QList>
#include <QString>

struct Plan;
class Console;

// The run's end asked for from outside: SIGINT, SIGTERM or SIGHUP, or standard output's
// reader gone (a closed pipe, recorded as SIGPIPE). The handler only records the first
// signal in a lock-free atomic; workers ask between blocks of rows and the reporter between
// rounds, so no file is started after it and none is left half-written. The handler is
// installed once: a second signal of the same kind takes its default action and ends the
// process at once, for a user who does not want to wait for the files in flight.
namespace Interruption
{
void install();
// The signal that asked the run to end, or 0. Safe from any thread.
int signal();
// Records an interruption found by the program itself (a closed output pipe).
void request(int signal);
// "SIGINT" and so on, for the summary.
QString signalName(int signal);
} // namespace Interruption

// Removes, in the folders of the planned masks, hidden part files `.<mask>.part<PID>-<N>`
// that a killed run left behind: only regular files owned by the user whose PID names no
// live process. Each removal is said on standard error.
void removeOrphanedParts(const QList<Plan> &plans, Console &console);
