#include <QMimeData>
#include <QSignalSpy>

#include <stdexcept>

#include "platform/ui/TreeView.h"
#include "tests/support/TestMain.h"

using ui::TreeNode;
using ui::TreeView;

namespace {
const QString kList = QStringLiteral("\x04");

// Keys of a node's children, in display order.
QString childKeys(TreeNode* node)
{
    QStringList keys;
    for (TreeNode* c = node ? node->Child() : nullptr; c; c = c->Next())
        keys << c->Key();
    return keys.join(QLatin1Char(' '));
}

QString nodeOrder(TreeView& tree)
{
    QStringList keys;
    for (int i = 1; i <= tree.Nodes().Count(); ++i)
        keys << tree.Nodes(i)->Key();
    return keys.join(QLatin1Char(' '));
}

// The centre of a node's row in the tree's twips.
QPointF twipsAt(TreeView& tree, TreeNode* node)
{
    const QPoint p = tree.viewport()->mapTo(&tree, tree.visualItemRect(node->item()).center());
    return QPointF(p.x() * 15.0, p.y() * 15.0);
}

QPoint viewportAt(TreeView& tree, TreeNode* node) { return tree.visualItemRect(node->item()).center(); }
} // namespace

class TestTreeView : public QObject {
    Q_OBJECT

    // Store root with Inbox and Sent, then the list root with two folders; children of the list
    // root added in the order the database gives them.
    void build(TreeView& tree)
    {
        tree.Nodes().Add(QStringLiteral("AA01"), QStringLiteral("Personal Folders"), 1);
        tree.Nodes().Add(QStringLiteral("AA01"), ui::tvwChild, QStringLiteral("AA02"), QStringLiteral("Inbox"), 1);
        tree.Nodes().Add(QStringLiteral("AA01"), ui::tvwChild, QStringLiteral("AA03"), QStringLiteral("Sent Items"), 1);
        tree.Nodes().Add(QStringLiteral("AA02"), ui::tvwChild, QStringLiteral("AA04"), QStringLiteral("Clients"), 1);
        tree.Nodes().Add(kList + QStringLiteral("1"), QStringLiteral("Master List"), 1);
        tree.Nodes().Add(kList + QStringLiteral("1"), ui::tvwChild, kList + QStringLiteral("7"), QStringLiteral("Alpha"), 1);
        tree.Nodes().Add(kList + QStringLiteral("1"), ui::tvwChild, kList + QStringLiteral("3"), QStringLiteral("Beta"), 1);
    }

private Q_SLOTS:
    void keysAndInsertionOrder()
    {
        TreeView tree;
        build(tree);
        QCOMPARE(tree.Nodes().Count(), 7);
        QCOMPARE(nodeOrder(tree), QStringLiteral("AA01 AA02 AA03 AA04 %1 %2 %3")
                                      .arg(kList + QStringLiteral("1"), kList + QStringLiteral("7"), kList + QStringLiteral("3")));
        TreeNode* inbox = tree.Nodes(QStringLiteral("AA02"));
        QVERIFY(inbox);
        QCOMPARE(inbox->Text(), QStringLiteral("Inbox"));
        QCOMPARE(inbox->Index(), 2);
        QCOMPARE(inbox->Parent(), tree.Nodes(1));
        QVERIFY(tree.Nodes(1)->Parent() == nullptr);
        QCOMPARE(tree.Nodes(QStringLiteral("aa02")), inbox); // keys ignore case
        QVERIFY(tree.Nodes(QStringLiteral("nope")) == nullptr);
        QVERIFY(tree.Nodes(QString()) == nullptr);
        QVERIFY(tree.Nodes(0) == nullptr);
        QVERIFY(tree.Nodes(8) == nullptr);
        QCOMPARE(childKeys(tree.Nodes(QStringLiteral("AA01"))), QStringLiteral("AA02 AA03"));
        QCOMPARE(tree.Nodes(QStringLiteral("AA01"))->Children(), 2);

        // Texts are shown exactly as given: never markup, never an accelerator.
        inbox->SetText(QStringLiteral("<b>R&D</b>"));
        QCOMPARE(inbox->item()->text(0), QStringLiteral("<b>R&D</b>"));

        inbox->SetExpanded(true);
        QVERIFY(inbox->Expanded());
        inbox->SetSelected(true);
        QCOMPARE(tree.SelectedItem(), inbox);
        QVERIFY(inbox->Selected());

        tree.Nodes().Clear();
        QCOMPARE(tree.Nodes().Count(), 0);
        QVERIFY(tree.Nodes(QStringLiteral("AA02")) == nullptr);
        QCOMPARE(tree.topLevelItemCount(), 0);
    }

    void relationshipsPlaceSiblings()
    {
        TreeView tree;
        tree.Nodes().Add(QStringLiteral("P"), QStringLiteral("parent"));
        tree.Nodes().Add(QStringLiteral("P"), ui::tvwChild, QStringLiteral("b"), QStringLiteral("b"));
        tree.Nodes().Add(QStringLiteral("b"), ui::tvwFirst, QStringLiteral("a"), QStringLiteral("a"));
        tree.Nodes().Add(QStringLiteral("b"), ui::tvwLast, QStringLiteral("d"), QStringLiteral("d"));
        tree.Nodes().Add(QStringLiteral("b"), ui::tvwNext, QStringLiteral("c"), QStringLiteral("c"));
        tree.Nodes().Add(QStringLiteral("a"), ui::tvwPrevious, QStringLiteral("0"), QStringLiteral("0"));
        QCOMPARE(childKeys(tree.Nodes(QStringLiteral("P"))), QStringLiteral("0 a b c d"));
        QCOMPARE(tree.Nodes(QStringLiteral("c"))->Previous()->Key(), QStringLiteral("b"));
        QVERIFY(tree.Nodes(QStringLiteral("d"))->Next() == nullptr);
        // Top-level siblings work the same way.
        tree.Nodes().Add(QStringLiteral("P"), ui::tvwPrevious, QStringLiteral("Q"), QStringLiteral("before"));
        QCOMPARE(tree.topLevelItem(0)->text(0), QStringLiteral("before"));
    }

    void refusedAddsChangeNothing_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<int>("relationship");
        QTest::addColumn<QString>("key");
        QTest::newRow("duplicate key") << QString() << int(ui::tvwLast) << QStringLiteral("AA03");
        QTest::newRow("duplicate key other case") << QStringLiteral("AA01") << int(ui::tvwChild) << QStringLiteral("aa03");
        QTest::newRow("unknown relative") << QStringLiteral("ZZ") << int(ui::tvwChild) << QStringLiteral("new");
        QTest::newRow("bad relationship") << QStringLiteral("AA01") << 9 << QStringLiteral("new");
    }

    void refusedAddsChangeNothing()
    {
        QFETCH(QString, relative);
        QFETCH(int, relationship);
        QFETCH(QString, key);
        TreeView tree;
        build(tree);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 tree.Nodes().Add(relative, relationship, key, QStringLiteral("x"), 1));
        QCOMPARE(tree.Nodes().Count(), 7);
        QCOMPARE(childKeys(tree.Nodes(QStringLiteral("AA01"))), QStringLiteral("AA02 AA03"));
        QCOMPARE(tree.topLevelItemCount(), 2);
    }

    void removeTakesTheSubtree()
    {
        TreeView tree;
        build(tree);
        tree.Nodes(QStringLiteral("AA04"))->SetSelected(true);
        tree.Nodes().Remove(QStringLiteral("aa02"));
        QCOMPARE(tree.Nodes().Count(), 5);
        QVERIFY(tree.Nodes(QStringLiteral("AA02")) == nullptr);
        QVERIFY(tree.Nodes(QStringLiteral("AA04")) == nullptr);
        QCOMPARE(tree.Nodes(2)->Key(), QStringLiteral("AA03")); // later nodes move up
        QCOMPARE(tree.Nodes(QStringLiteral("AA03"))->Index(), 2);
        QCOMPARE(childKeys(tree.Nodes(QStringLiteral("AA01"))), QStringLiteral("AA03"));
        // The selected node went with the subtree: its next sibling is selected in its place.
        QCOMPARE(tree.SelectedItem(), tree.Nodes(QStringLiteral("AA03")));
        tree.Nodes().Remove(QStringLiteral("AA03")); // no sibling left: the parent
        QCOMPARE(tree.SelectedItem(), tree.Nodes(QStringLiteral("AA01")));
        tree.Nodes().Add(QStringLiteral("AA01"), ui::tvwChild, QStringLiteral("AA03"), QStringLiteral("Sent Items"));
        // Keys of removed nodes can be used again.
        tree.Nodes().Add(QStringLiteral("AA01"), ui::tvwChild, QStringLiteral("AA04"), QStringLiteral("Again"));
        QCOMPARE(tree.Nodes(QStringLiteral("AA04"))->Text(), QStringLiteral("Again"));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, tree.Nodes().Remove(QStringLiteral("AA02")));
    }

    void hitTestAndMouseUp()
    {
        TreeView tree;
        build(tree);
        tree.Nodes(1)->SetExpanded(true);
        tree.resize(300, 300);
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));
        TreeNode* sent = tree.Nodes(QStringLiteral("AA03"));
        const QPointF at = twipsAt(tree, sent);
        QCOMPARE(tree.HitTest(at.x(), at.y()), sent);
        QVERIFY(tree.HitTest(at.x(), 299 * 15.0) == nullptr); // empty space below the nodes
        QVERIFY(tree.HitTest(-15, -15) == nullptr);

        QSignalSpy up(&tree, &TreeView::MouseUp);
        QTest::mouseClick(tree.viewport(), Qt::RightButton, Qt::ShiftModifier, viewportAt(tree, sent));
        QCOMPARE(up.size(), 1);
        QCOMPARE(up.at(0).at(0).toInt(), int(ui::vbRightButton));
        QCOMPARE(up.at(0).at(1).toInt(), int(ui::vbShiftMask));
        // The position the event gives finds the node, and a right click has selected it.
        QCOMPARE(tree.HitTest(up.at(0).at(2).toDouble(), up.at(0).at(3).toDouble()), sent);
        QCOMPARE(tree.SelectedItem(), sent);
    }

    void keyDownCanSwallowTheKey()
    {
        TreeView tree;
        build(tree);
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));
        tree.Nodes(1)->SetSelected(true);
        bool swallow = true;
        QList<int> seen;
        connect(&tree, &TreeView::KeyDown, &tree, [&](int& keyCode, int) {
            seen << keyCode;
            if (swallow)
                keyCode = 0;
        });
        QTest::keyClick(&tree, Qt::Key_Down);
        QTest::keyClick(&tree, Qt::Key_Asterisk); // would expand every node below
        QTest::keyClick(&tree, Qt::Key_S);        // would search for "Sent Items"
        QCOMPARE(seen, QList<int>({ui::vbKeyDown, 106, 'S'}));
        QCOMPARE(tree.SelectedItem(), tree.Nodes(1));
        QVERIFY(!tree.Nodes(1)->Expanded());
        swallow = false;
        QTest::keyClick(&tree, Qt::Key_Down);
        QVERIFY(tree.SelectedItem() != tree.Nodes(1));
    }

    void dropOfGridRowsReportsThePoint()
    {
        TreeView tree;
        build(tree);
        tree.resize(300, 300);
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));
        TreeNode* target = tree.Nodes(kList + QStringLiteral("1"));
        QList<QPointF> dropped;
        connect(&tree, &TreeView::OLEDragDrop, &tree,
                [&](const QMimeData*, int&, int, int, double x, double y) { dropped << QPointF(x, y); });

        auto drop = [&](const char* format) {
            QMimeData mime;
            mime.setData(QString::fromLatin1(format), QByteArrayLiteral("2\n5"));
            const QPoint at = viewportAt(tree, target);
            QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(tree.viewport(), &enter);
            QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(tree.viewport(), &drop);
            return drop.isAccepted();
        };

        // A tree that takes no drops raises nothing.
        QVERIFY(!drop(ui::kGridRowsMimeType));
        QCOMPARE(dropped.size(), 0);

        tree.SetOLEDropMode(1);
        QVERIFY(!drop("text/plain")); // a drop from elsewhere is refused
        QCOMPARE(dropped.size(), 0);
        QVERIFY(drop(ui::kGridRowsMimeType));
        QCOMPARE(dropped.size(), 1);
        QCOMPARE(tree.HitTest(dropped.at(0).x(), dropped.at(0).y()), target);
    }
};

FERROWYN_TEST_MAIN(TestTreeView)
#include "tst_TreeView.moc"
