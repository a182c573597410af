#pragma once
// The folder tree holds mail folders (keyed by their EntryID) and list folders (keyed by
// Chr(4) and the MailFolders RecID) side by side; the key alone tells them apart.
#include <QString>

namespace ui {
class TreeNode;
class TreeView;
} // namespace ui

// The marker that starts every list-folder key.
inline constexpr QChar kListFolderKeyMark = QChar(4);

// Chr(4) & the id.
QString ListFolderKey(qint64 recId);
// The RecID of a list-folder key (everything after the first character, read by Val).
// Throws std::overflow_error beyond the range of a long.
long FolderRecIDFromKey(const QString& key);
// True when the node has no parent; a missing node counts as top level.
bool IsTopLevelNode(const ui::TreeNode* node);
// The kind tests: a missing node is neither kind; an empty key is a mail folder.
bool IsEmailFolderNode(const ui::TreeNode* node);
bool IsDravonelFolderNode(const ui::TreeNode* node);
// Adds every node of source to destination (not cleared first), parents first, image 1.
// A node whose parent cannot be found is added at the top; a key the destination already
// holds throws std::invalid_argument, leaving the nodes copied so far.
void CopyTreeNodes(ui::TreeView& source, ui::TreeView& destination);
