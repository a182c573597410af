#pragma once
// The tree control with keyed nodes: Nodes.Add(relative, relationship, key, text, image),
// lookups by key and by 1-based index in the order the nodes were added, removal with descendants.
//
// Errors the caller sees: Add throws std::invalid_argument for a key that is already in the tree
// (keys compare without regard to case), for a relative key that no node has and for an unknown
// relationship; Remove throws std::invalid_argument for an unknown key. Lookups never throw: an
// unknown key or an index outside 1..Count() gives nullptr.
//
// A TreeNode lives until it is removed or the tree is cleared, so code that outlives a rebuild of
// the tree keeps the node's key and looks the node up again. Node texts are shown as plain text.
// Positions in events and in HitTest are twips of the tree control (15 twips = 1 pixel).
#include <QHash>
#include <QIcon>
#include <QTreeWidget>

#include <memory>
#include <vector>

#include "platform/ui/DataGridEvents.h"

class QMimeData;

namespace ui {

enum TreeRelationship { tvwFirst = 0, tvwLast = 1, tvwNext = 2, tvwPrevious = 3, tvwChild = 4 };

class TreeView;

class TreeNode {
public:
    QString Key() const { return m_key; }
    QString Text() const;
    void SetText(const QString& text);
    // nullptr for a top-level node.
    TreeNode* Parent() const;
    // First child, nullptr when there is none.
    TreeNode* Child() const;
    int Children() const;
    // Next and previous sibling, nullptr at either end.
    TreeNode* Next() const;
    TreeNode* Previous() const;
    bool Expanded() const;
    void SetExpanded(bool expanded);
    // The selected node is the tree's SelectedItem; selecting a node makes it so.
    bool Selected() const;
    void SetSelected(bool selected);
    // 1-based position in the tree's Nodes.
    int Index() const;
    int Image() const { return m_image; }
    TreeView* Tree() const { return m_tree; }
    QTreeWidgetItem* item() const { return m_item; }

private:
    friend class TreeNodes;
    TreeNode(TreeView* tree, QTreeWidgetItem* item, const QString& key, int image)
        : m_tree(tree), m_item(item), m_key(key), m_image(image)
    {
    }
    TreeView* m_tree;
    QTreeWidgetItem* m_item;
    QString m_key;
    int m_image;
};

class TreeNodes {
public:
    // Adds a node related to the node with key relative (an empty relative adds a top-level node
    // after the others). Image is a 1-based index into the tree's image list, 0 for none.
    TreeNode* Add(const QString& relative, int relationship, const QString& key, const QString& text, int image = 0);
    // A top-level node after the others.
    TreeNode* Add(const QString& key, const QString& text, int image = 0) { return Add(QString(), tvwLast, key, text, image); }
    TreeNode* Item(const QString& key) const;
    TreeNode* Item(int index) const;
    TreeNode* operator()(const QString& key) const { return Item(key); }
    TreeNode* operator()(int index) const { return Item(index); }
    int Count() const { return int(m_order.size()); }
    void Clear();
    // Removes the node and everything below it. When the selected node goes, its next sibling is
    // selected, else its previous sibling, else its parent.
    void Remove(const QString& key);

private:
    friend class TreeView;
    friend class TreeNode;
    explicit TreeNodes(TreeView* tree) : m_tree(tree) {}
    static QString foldKey(const QString& key) { return key.toCaseFolded(); }

    TreeView* m_tree;
    std::vector<std::unique_ptr<TreeNode>> m_order;
    QHash<QString, TreeNode*> m_byKey;
    QHash<const QTreeWidgetItem*, TreeNode*> m_byItem;
};

class TreeView : public QTreeWidget {
    Q_OBJECT

public:
    explicit TreeView(QWidget* parent = nullptr);
    ~TreeView() override;

    TreeNodes& Nodes() { return m_nodes; }
    TreeNode* Nodes(const QString& key) const { return m_nodes.Item(key); }
    TreeNode* Nodes(int index) const { return m_nodes.Item(index); }
    // The selected node, nullptr when there is none.
    TreeNode* SelectedItem() const;
    // The node at a point, nullptr over empty space.
    TreeNode* HitTest(double x, double y) const;
    TreeNode* nodeOf(const QTreeWidgetItem* item) const { return m_nodes.m_byItem.value(item); }

    bool Visible() const { return !isHidden(); }
    void SetVisible(bool visible) { setVisible(visible); }

    // Pictures for the nodes' Image numbers (1 is the first).
    void SetImageList(const QList<QIcon>& images);
    QIcon image(int index) const { return index >= 1 && index <= m_images.size() ? m_images.at(index - 1) : QIcon(); }

    // 0: takes no drops; 1: takes drops of grid rows and raises OLEDragDrop.
    int OLEDropMode() const { return m_oleDropMode; }
    void SetOLEDropMode(int mode);

Q_SIGNALS:
    void MouseDown(int button, int shift, double x, double y);
    void MouseUp(int button, int shift, double x, double y);
    // Setting keyCode to 0 swallows the key.
    void KeyDown(int& keyCode, int shift);
    // effect comes in as the drag proposed it (OLEDropEffect); a handler may change it.
    void OLEDragDrop(const QMimeData* data, int& effect, int button, int shift, double x, double y);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QPointF twipsOf(const QPoint& viewportPos) const;
    template <typename F> void fire(F&& emitter);

    TreeNodes m_nodes;
    QList<QIcon> m_images;
    int m_oleDropMode = 0;
};

} // namespace ui
