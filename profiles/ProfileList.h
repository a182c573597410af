#pragma once
// What the profile editor needs of the dialog that opened it: its list of profiles, refilled
// after a save or a delete, and the saved profile selected where the opener picks one.
#include <QtGlobal>

class QListWidget;

class ProfileListOpener {
public:
    virtual ~ProfileListOpener() = default;
    virtual void LoadProfiles() = 0;
    virtual void SelectProfile(qint64 recId) { (void)recId; }
};

// Refills a list box from Profiles in Description order: item text the name, item data
// (Qt::UserRole) the RecID; nothing selected. A failed read leaves the list empty and is
// reported. Used by the profile list and the profile chooser.
void FillProfileList(QListWidget& list);
// The RecID of the list's selected item; 0 when no item is selected.
qint64 SelectedProfile(const QListWidget& list);
