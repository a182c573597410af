#pragma once
// The real program around a composer test: a started main window whose address grid shows the
// master list, rows found by address, and a composer loaded from a chosen selection.
#include <QTextEdit>
#include <memory>

#include "compose/frmCompose.h"
#include "core/TreeKeys.h"
#include "tests/mainwindow/Form1TestUtil.h"

namespace composetest {

using namespace form1test;

struct Person {
    QString email, first, last, company, city;
};

inline void addPeople(const QList<Person>& people)
{
    for (const Person& p : people)
        sql(QStringLiteral("INSERT INTO MasterList (Email, First, Last, Company, City, SortName) VALUES ('%1', '%2', '%3', '%4', '%5', '%2 %3')")
                .arg(p.email, p.first, p.last, p.company, p.city));
}

inline void showMasterList(Form1* f)
{
    f->LoadEmailAddresses(f->TreeView1->Nodes(QString(QChar(4)) + QStringLiteral("1")));
}

// The address grid's row holding the address, or 0.
inline int rowOf(Form1* f, const QString& email)
{
    for (int r = f->ex->LowerBound(1); r <= f->ex->UpperBound(1); ++r)
        if (f->ex->Value(r, 1).toString() == email) return r;
    return 0;
}

inline void select(Form1* f, const QList<int>& rows)
{
    f->TDBGrid2->SelBookmarks().Clear();
    for (int r : rows) f->TDBGrid2->SelBookmarks().Add(r);
}

} // namespace composetest
