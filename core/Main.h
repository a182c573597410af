#pragma once
// Start-up: one instance per data folder, the database and its root list folder, the mail host,
// the main window with its folder tree, the mail-account names.
#include <QVariantList>

// Runs start-up. Returns true when the main window is showing and the event loop should run;
// false when the program ends here (another running instance holds the data folder, which ends
// it silently with status 0, or a start-up failure that was reported, status 1, a data folder
// that cannot be made or written among them, also one where a lock left by a process that is gone
// cannot be taken over, and a lock file that names no process yet, as another instance's does for
// a moment while it starts; once a few seconds old such a lock is taken over). exitCode gets the
// program's exit status.
bool Main(int* exitCode = nullptr);

// Fills accounts(1..count) with the mail-account names in file order, at most 100. Never throws.
void LoadMailAccounts(QVariantList& accounts, int& count);

// The single-instance lock file in the data folder.
QString InstanceLockPath();

// Lets go of the lock (the end of the process does the same).
void ReleaseInstanceLock();

