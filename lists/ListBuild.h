#pragma once
// Filling a list folder from its rules: every Master List address the rules select becomes a
// member of the folder, once. The selection runs before anything is written, so rules the
// database refuses never touch the folder; clearing and adding run as one transaction, so a
// failure never leaves a folder emptied or half built.
#include <QString>
#include <functional>

struct ListBuildResult {
    bool ok = false;
    // The refused statement's message (as SQLStatement.ErrorMessage gives it) when !ok.
    QString error;
    // Addresses the rules select, and memberships written.
    int selected = 0;
    int added = 0;
};

struct ListBuildProgress {
    // Called once, with the number of addresses selected, before the first write.
    std::function<void(int count)> started;
    // Called for the i-th selected address (1-based), in Email order.
    std::function<void(int i)> step;
};

// A folder without rules selects nothing. Without clearFirst the build only adds. The clear and
// the adds are one transaction: whole or not at all.
ListBuildResult BuildListMembers(long folderRecID, bool clearFirst, const ListBuildProgress& progress = {});
