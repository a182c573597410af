#include "core/TreeKeys.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "core/Conversions.h"
#include "platform/ui/TreeView.h"

QString ListFolderKey(qint64 recId) { return QString(kListFolderKeyMark) + QString::number(recId); }

long FolderRecIDFromKey(const QString& key)
{
    const double v = std::round(Val(key.mid(1)));
    if (v > double(std::numeric_limits<int>::max()) || v < double(std::numeric_limits<int>::min()))
        throw std::overflow_error("Overflow");
    return long(v);
}

bool IsTopLevelNode(const ui::TreeNode* node) { return !node || !node->Parent(); }

bool IsDravonelFolderNode(const ui::TreeNode* node)
{
    return node && node->Key().startsWith(kListFolderKeyMark);
}

bool IsEmailFolderNode(const ui::TreeNode* node)
{
    return node && !node->Key().startsWith(kListFolderKeyMark);
}

void CopyTreeNodes(ui::TreeView& source, ui::TreeView& destination)
{
    // The count is read once, as the loop adds to another tree.
    const int count = source.Nodes().Count();
    for (int i = 1; i <= count; ++i) {
        const ui::TreeNode* n = source.Nodes(i);
        if (!n) continue;
        const ui::TreeNode* parent = n->Parent();
        if (parent && destination.Nodes(parent->Key())) {
            try {
                destination.Nodes().Add(parent->Key(), ui::tvwChild, n->Key(), n->Text(), 1);
                continue;
            } catch (const std::invalid_argument&) {
                // Fall through to a top-level node, as for a parent the destination lacks.
            }
        }
        destination.Nodes().Add(n->Key(), n->Text(), 1);
    }
}
