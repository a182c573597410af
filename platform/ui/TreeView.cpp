#include "platform/ui/TreeView.h"

#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>

#include <QSet>
#include <cmath>
#include <stdexcept>

namespace ui {

// ---- node ----

QString TreeNode::Text() const { return m_item->text(0); }

void TreeNode::SetText(const QString& text) { m_item->setText(0, text); }

TreeNode* TreeNode::Parent() const { return m_tree->nodeOf(m_item->parent()); }

TreeNode* TreeNode::Child() const { return m_item->childCount() > 0 ? m_tree->nodeOf(m_item->child(0)) : nullptr; }

int TreeNode::Children() const { return m_item->childCount(); }

namespace {
QTreeWidgetItem* sibling(QTreeWidget* tree, QTreeWidgetItem* item, int step)
{
    if (QTreeWidgetItem* p = item->parent()) {
        const int i = p->indexOfChild(item) + step;
        return i >= 0 && i < p->childCount() ? p->child(i) : nullptr;
    }
    const int i = tree->indexOfTopLevelItem(item) + step;
    return i >= 0 && i < tree->topLevelItemCount() ? tree->topLevelItem(i) : nullptr;
}
} // namespace

TreeNode* TreeNode::Next() const { return m_tree->nodeOf(sibling(m_tree, m_item, 1)); }

TreeNode* TreeNode::Previous() const { return m_tree->nodeOf(sibling(m_tree, m_item, -1)); }

bool TreeNode::Expanded() const { return m_item->isExpanded(); }

void TreeNode::SetExpanded(bool expanded) { m_item->setExpanded(expanded); }

bool TreeNode::Selected() const { return m_tree->currentItem() == m_item; }

void TreeNode::SetSelected(bool selected)
{
    if (selected) {
        m_tree->setCurrentItem(m_item);
    } else if (m_tree->currentItem() == m_item) {
        m_tree->setCurrentItem(nullptr);
        m_item->setSelected(false);
    }
}

int TreeNode::Index() const
{
    const auto& order = m_tree->Nodes().m_order;
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i].get() == this)
            return int(i) + 1;
    }
    return 0;
}

// ---- nodes ----

TreeNode* TreeNodes::Add(const QString& relative, int relationship, const QString& key, const QString& text, int image)
{
    if (!key.isEmpty() && m_byKey.contains(foldKey(key)))
        throw std::invalid_argument("Key is not unique in collection");
    if (relationship < tvwFirst || relationship > tvwChild)
        throw std::invalid_argument("Invalid relationship");
    TreeNode* rel = nullptr;
    if (!relative.isEmpty()) {
        rel = Item(relative);
        if (!rel)
            throw std::invalid_argument("Element not found");
    }
    auto* item = new QTreeWidgetItem;
    item->setText(0, text);
    item->setIcon(0, m_tree->image(image));
    if (!rel) {
        m_tree->addTopLevelItem(item);
    } else if (relationship == tvwChild) {
        rel->item()->addChild(item);
    } else {
        QTreeWidgetItem* r = rel->item();
        QTreeWidgetItem* parent = r->parent();
        const int count = parent ? parent->childCount() : m_tree->topLevelItemCount();
        const int at = parent ? parent->indexOfChild(r) : m_tree->indexOfTopLevelItem(r);
        int pos = count;
        switch (relationship) {
        case tvwFirst:
            pos = 0;
            break;
        case tvwNext:
            pos = at + 1;
            break;
        case tvwPrevious:
            pos = at;
            break;
        default:
            break;
        }
        if (parent)
            parent->insertChild(pos, item);
        else
            m_tree->insertTopLevelItem(pos, item);
    }
    m_order.push_back(std::unique_ptr<TreeNode>(new TreeNode(m_tree, item, key, image)));
    TreeNode* node = m_order.back().get();
    if (!key.isEmpty())
        m_byKey.insert(foldKey(key), node);
    m_byItem.insert(item, node);
    return node;
}

TreeNode* TreeNodes::Item(const QString& key) const { return key.isEmpty() ? nullptr : m_byKey.value(foldKey(key)); }

TreeNode* TreeNodes::Item(int index) const
{
    return index >= 1 && index <= Count() ? m_order[size_t(index - 1)].get() : nullptr;
}

void TreeNodes::Clear()
{
    m_tree->clear();
    m_byKey.clear();
    m_byItem.clear();
    m_order.clear();
}

void TreeNodes::Remove(const QString& key)
{
    TreeNode* node = Item(key);
    if (!node)
        throw std::invalid_argument("Element not found");
    QSet<const TreeNode*> gone;
    QList<QTreeWidgetItem*> pending{node->item()};
    while (!pending.isEmpty()) {
        QTreeWidgetItem* it = pending.takeLast();
        for (int i = 0; i < it->childCount(); ++i)
            pending.append(it->child(i));
        TreeNode* n = m_byItem.take(it);
        if (!n)
            continue;
        gone.insert(n);
        if (!n->Key().isEmpty())
            m_byKey.remove(foldKey(n->Key()));
    }
    // When the selected node goes, its next sibling is selected, else the previous one, else its
    // parent, so the tree always has a selected node while it has nodes.
    QTreeWidgetItem* selected = m_tree->currentItem();
    bool selectedGoes = false;
    for (QTreeWidgetItem* it = selected; it && !selectedGoes; it = it->parent())
        selectedGoes = it == node->item();
    QTreeWidgetItem* next = nullptr;
    if (selectedGoes) {
        TreeNode* heir = node->Next() ? node->Next() : node->Previous() ? node->Previous() : node->Parent();
        next = heir ? heir->item() : nullptr;
    }
    // Deleting the item takes its descendants with it.
    delete node->item();
    if (selectedGoes)
        m_tree->setCurrentItem(next);
    std::erase_if(m_order, [&](const std::unique_ptr<TreeNode>& n) { return gone.contains(n.get()); });
}

// ---- tree ----

TreeView::TreeView(QWidget* parent) : QTreeWidget(parent), m_nodes(this)
{
    setColumnCount(1);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setUniformRowHeights(true);
    connect(this, &QTreeWidget::currentItemChanged, this, [](QTreeWidgetItem* current, QTreeWidgetItem*) {
        if (current)
            current->setSelected(true);
    });
}

TreeView::~TreeView()
{
    // Items go with the widget; the nodes must not outlive their lookups.
    m_nodes.m_byItem.clear();
    m_nodes.m_byKey.clear();
    m_nodes.m_order.clear();
}

template <typename F> void TreeView::fire(F&& emitter)
{
    // A window's handler failing must not unwind through Qt's event dispatch.
    try {
        emitter();
    } catch (const std::exception& e) {
        qWarning("Unhandled error in a tree event handler: %s", e.what());
    }
}

TreeNode* TreeView::SelectedItem() const { return nodeOf(currentItem()); }

QPointF TreeView::twipsOf(const QPoint& viewportPos) const
{
    const QPoint p = viewport()->mapTo(this, viewportPos);
    return QPointF(ToTwips(p.x()), ToTwips(p.y()));
}

TreeNode* TreeView::HitTest(double x, double y) const
{
    const QPoint p(int(std::floor(ToPixels(x))), int(std::floor(ToPixels(y))));
    const QPoint vp = p - viewport()->geometry().topLeft();
    if (!viewport()->rect().contains(vp))
        return nullptr;
    return nodeOf(itemAt(vp));
}

void TreeView::SetImageList(const QList<QIcon>& images)
{
    m_images = images;
    for (const auto& node : m_nodes.m_order)
        node->item()->setIcon(0, image(node->Image()));
}

void TreeView::SetOLEDropMode(int mode)
{
    m_oleDropMode = mode;
    setAcceptDrops(mode != 0);
    viewport()->setAcceptDrops(mode != 0);
}

void TreeView::mousePressEvent(QMouseEvent* event)
{
    QTreeWidget::mousePressEvent(event);
    // Any button selects the node under the pointer, so a right click's popup acts on it.
    if (QTreeWidgetItem* item = itemAt(event->position().toPoint()))
        setCurrentItem(item);
    const QPointF p = twipsOf(event->position().toPoint());
    fire([&] { Q_EMIT MouseDown(ButtonOf(event->button()), ShiftOf(event->modifiers()), p.x(), p.y()); });
}

void TreeView::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeWidget::mouseReleaseEvent(event);
    const QPointF p = twipsOf(event->position().toPoint());
    fire([&] { Q_EMIT MouseUp(ButtonOf(event->button()), ShiftOf(event->modifiers()), p.x(), p.y()); });
}

void TreeView::keyPressEvent(QKeyEvent* event)
{
    int keyCode = KeyCodeOf(event->key());
    if (keyCode != 0) {
        fire([&] { Q_EMIT KeyDown(keyCode, ShiftOf(event->modifiers())); });
        if (keyCode == 0) {
            event->accept();
            return;
        }
    }
    QTreeWidget::keyPressEvent(event);
}

namespace {
bool takesDrop(int mode, const QMimeData* data)
{
    return mode != 0 && data && data->hasFormat(QString::fromLatin1(kGridRowsMimeType));
}
} // namespace

void TreeView::dragEnterEvent(QDragEnterEvent* event)
{
    if (takesDrop(m_oleDropMode, event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TreeView::dragMoveEvent(QDragMoveEvent* event)
{
    if (takesDrop(m_oleDropMode, event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TreeView::dropEvent(QDropEvent* event)
{
    if (!takesDrop(m_oleDropMode, event->mimeData())) {
        event->ignore();
        return;
    }
    int effect = event->proposedAction() == Qt::MoveAction ? vbDropEffectMove : vbDropEffectCopy;
    const QPointF p = twipsOf(event->position().toPoint());
    const int button = ButtonsOf(event->buttons());
    const int shift = ShiftOf(event->modifiers());
    fire([&] { Q_EMIT OLEDragDrop(event->mimeData(), effect, button, shift, p.x(), p.y()); });
    if (effect == vbDropEffectNone) {
        event->ignore();
        return;
    }
    event->setDropAction(effect == vbDropEffectMove ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
}

} // namespace ui
