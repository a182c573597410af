#pragma once
// The one walk that fills a folder tree: the main window's and the folder picker's. Mail folders
// of every store come first (a store or folder of another kind is left out with everything below
// it), then the list folders (the root rows, each with its sub-folders by name).
#include <QString>
#include <functional>

#include "platform/mail/MailTypes.h"

namespace ui {
class TreeView;
}

// Called with the key of each mail-folder node as it is added.
using FolderNodeAdded = std::function<void(const QString& key)>;

// Adds one top-level node per mail store, expanded, with its mail sub-folders below it.
void AddEmailFolderNodes(ui::TreeView& tree, const mail::NameSpacePtr& ns, const FolderNodeAdded& added = {});
// Adds the mail sub-folders of folder under the node parentKey, collapsed, depth first.
void AddEmailSubFolderNodes(ui::TreeView& tree, const mail::FolderPtr& folder, const QString& parentKey,
                            const FolderNodeAdded& added = {});
// Adds the list-folder roots (FolderType 0), expanded, each with its sub-folders. Throws
// std::runtime_error with the statement's error when the table cannot be read.
void AddDravonelFolderNodes(ui::TreeView& tree);
// Adds the list folders below parentRecID (FolderType 1, by name), collapsed, depth first.
// A folder already in the tree is not walked again, so a damaged parent chain cannot loop.
void AddDravonelSubFolderNodes(ui::TreeView& tree, qint64 parentRecID);
