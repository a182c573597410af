// The grid over a 100,000 x 8 array: binding and first paint, scrolling to the end, selecting
// every row, each against a budget of 0.2 s; and DeleteRows of a middle row done 1,000 times,
// against 100 times (linear when the ratio is near 10) and against moving the cells of half the
// array once, which is what one delete would cost if rows were moved cell by cell.
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>

#include <cstdio>
#include <memory>
#include <vector>

#include "bench/BenchUtil.h"
#include "platform/ui/DataGrid.h"
#include "platform/ui/XArrayDB.h"

namespace {

constexpr int kRows = 100000;
constexpr int kCols = 8;
constexpr double kBudgetMs = 200.0;

std::shared_ptr<ui::XArrayDB> makeArray(int rows)
{
    auto a = std::make_shared<ui::XArrayDB>();
    a->ReDim(1, rows, 0, kCols - 1);
    for (int r = 1; r <= rows; ++r) {
        a->SetValue(r, 0, QStringLiteral("0"));
        a->SetValue(r, 1, QStringLiteral("user%1@example.com").arg(r));
        a->SetValue(r, 2, QStringLiteral("Name %1").arg(r));
        a->SetValue(r, 3, QStringLiteral("Boston MA 02110"));
        a->SetValue(r, 4, r);
        a->SetValue(r, 5, r);
        a->SetValue(r, 6, 0);
    }
    return a;
}

void report(const char* what, double figure, double reference, const char* referenceName)
{
    std::printf("%-44s %10.3f ms   %-28s %10.3f ms   ratio %6.3f\n", what, figure, referenceName, reference,
                reference > 0 ? figure / reference : 0.0);
}

double deleteMiddle(int rows, int times)
{
    auto a = makeArray(rows);
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < times; ++i)
        a->DeleteRows(a->UpperBound(1) / 2);
    return ms(t);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QElapsedTimer t;
    t.start();
    auto array = makeArray(kRows);
    std::printf("filling the %d x %d array: %.2f ms (not part of the figures)\n", kRows, kCols, ms(t));

    ui::DataGrid grid;
    for (const char* caption : {"", "EMail Address", "Name", "City/State"})
        grid.Columns().Add(QString::fromLatin1(caption));
    grid.resize(1000, 700);
    grid.show();
    QCoreApplication::processEvents();

    t.restart();
    grid.SetBookmark(QVariant());
    grid.SetArray(array);
    grid.ReBind();
    grid.viewport()->repaint();
    report("bind 100,000 x 8 and first paint", ms(t), kBudgetMs, "budget");

    t.restart();
    grid.SetBookmark(kRows);
    grid.viewport()->repaint();
    report("scroll to the last row and paint", ms(t), kBudgetMs, "budget");

    t.restart();
    for (int r = 1; r <= kRows; ++r)
        grid.SelBookmarks().Add(r);
    grid.Refresh();
    grid.viewport()->repaint();
    report("select all 100,000 rows and paint", ms(t), kBudgetMs, "budget");

    t.restart();
    while (grid.SelBookmarks().Count() >= 1)
        grid.SelBookmarks().Remove(0);
    grid.viewport()->repaint();
    report("clear the selection item 0 first", ms(t), kBudgetMs, "budget");

    const double thousand = deleteMiddle(kRows, 1000);
    const double hundred = deleteMiddle(kRows, 100);
    report("DeleteRows middle x1000 (100,000 rows)", thousand, hundred * 10, "x100, times 10");

    // What one delete costs when it moves the cells of the rows below it.
    std::vector<QVariant> cells(size_t(kRows) * kCols, QVariant(QStringLiteral("cell")));
    t.restart();
    std::move(cells.begin() + ptrdiff_t(cells.size() / 2) + kCols, cells.end(), cells.begin() + ptrdiff_t(cells.size() / 2));
    const double cellMove = ms(t);
    report("DeleteRows middle, one row", thousand / 1000, cellMove, "moving half the cells once");
    return 0;
}
