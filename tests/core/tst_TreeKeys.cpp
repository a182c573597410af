#include "core/TreeKeys.h"
#include "platform/ui/TreeView.h"
#include "tests/support/TestMain.h"

class TestTreeKeys : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void recIdFromKey_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("id");
        QTest::newRow("list folder") << QString(QChar(4)) + "12" << 12;
        QTest::newRow("mark only") << QString(QChar(4)) << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("first char never examined") << "X7" << 7;
    }
    void recIdFromKey()
    {
        QFETCH(QString, key);
        QTEST(int(FolderRecIDFromKey(key)), "id");
        QCOMPARE(ListFolderKey(12), QString(QChar(4)) + "12");
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, FolderRecIDFromKey(QString(QChar(4)) + "99999999999"));
    }

    void kindsAndTopLevel()
    {
        ui::TreeView tree;
        tree.Nodes().Add("00AB", "Personal Folders");
        tree.Nodes().Add("00AB", ui::tvwChild, "00CD", "Inbox");
        tree.Nodes().Add(ListFolderKey(1), "Master List");
        tree.Nodes().Add(ListFolderKey(1), ui::tvwChild, ListFolderKey(2), "Friends");
        QVERIFY(IsTopLevelNode(tree.Nodes("00AB")));
        QVERIFY(!IsTopLevelNode(tree.Nodes("00cd")));
        QVERIFY(IsTopLevelNode(tree.Nodes(ListFolderKey(1))));
        QVERIFY(IsTopLevelNode(nullptr));
        QVERIFY(IsEmailFolderNode(tree.Nodes("00CD")));
        QVERIFY(!IsDravonelFolderNode(tree.Nodes("00CD")));
        QVERIFY(IsDravonelFolderNode(tree.Nodes(ListFolderKey(2))));
        QVERIFY(!IsEmailFolderNode(tree.Nodes(ListFolderKey(2))));
        QVERIFY(!IsEmailFolderNode(nullptr));
        QVERIFY(!IsDravonelFolderNode(nullptr));
    }

    void copyKeepsShapeKeysAndTexts()
    {
        ui::TreeView src;
        src.Nodes().Add("S1", "Store", 3);
        src.Nodes().Add("S1", ui::tvwChild, "A", "Inbox", 2);
        src.Nodes().Add("A", ui::tvwChild, "A1", "Sub", 2);
        src.Nodes().Add(ListFolderKey(1), "Master List", 5);
        src.Nodes().Add(ListFolderKey(1), ui::tvwChild, ListFolderKey(4), "Friends", 5);
        ui::TreeView dst;
        CopyTreeNodes(src, dst);
        QCOMPARE(dst.Nodes().Count(), 5);
        for (int i = 1; i <= 5; ++i) {
            QCOMPARE(dst.Nodes(i)->Key(), src.Nodes(i)->Key());
            QCOMPARE(dst.Nodes(i)->Text(), src.Nodes(i)->Text());
            QCOMPARE(dst.Nodes(i)->Image(), 1);
            const ui::TreeNode* p = src.Nodes(i)->Parent();
            QCOMPARE(dst.Nodes(i)->Parent() ? dst.Nodes(i)->Parent()->Key() : QString(), p ? p->Key() : QString());
        }
        // A key the destination already holds reaches the caller; what was copied stays.
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, CopyTreeNodes(src, dst));
        QCOMPARE(dst.Nodes().Count(), 5);
    }
};

FERROWYN_TEST_MAIN(TestTreeKeys)
#include "tst_TreeKeys.moc"
