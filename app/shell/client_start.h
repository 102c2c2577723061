#pragma once
// The client's start-up and its end: one client per user, the six application objects handed
// to the main window, and their shutdown in the reverse order of their making.

#include <QUrl>

// Runs the client until it quits and returns the exit code: 0 when another client of this
// user already runs (it is brought forward instead), 1 when there is no folder of this user's
// own for the single-instance lock (the reason on standard error), -1 when the window cannot
// be created.
// `root` empty: the main window of the Orvik.Tessel module.
int runClient(int argc, char** argv, const QUrl& root = {});
