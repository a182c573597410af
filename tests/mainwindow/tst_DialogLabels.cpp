// Every dialog of the program, shown at the default font: each caption (label, check box, option
// button, push button, frame title) has the room to show its text whole. A cut caption shows only
// on a screen; this walks them all instead.
#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <functional>
#include <memory>

#include "compose/Form15.h"
#include "compose/Form17.h"
#include "compose/Form18.h"
#include "compose/Form20.h"
#include "compose/Form24.h"
#include "compose/frmCompose.h"
#include "lists/Form12.h"
#include "lists/Form13.h"
#include "lists/Form2.h"
#include "lists/Form3.h"
#include "lists/Form4.h"
#include "lists/Form5.h"
#include "lists/Form6.h"
#include "lists/Form7.h"
#include "mainwindow/Form11.h"
#include "mainwindow/Form16.h"
#include "mainwindow/Form22.h"
#include "mainwindow/Form23.h"
#include "platform/mail/MailItem.h"
#include "profiles/Form10.h"
#include "profiles/Form19.h"
#include "profiles/Form8.h"
#include "profiles/Form9.h"
#include "tests/compose/ComposeTestUtil.h"

using namespace composetest;

namespace {

QString withoutMnemonic(QString text)
{
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    return text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

// The room a caption's text needs, or an empty size when it needs none.
QSize needed(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w)) {
        if (l->text().isEmpty() || l->pixmap().isNull() == false) return {};
        if (l->wordWrap()) return {0, l->heightForWidth(l->width())};
        return l->sizeHint();
    }
    if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
        // The indicator and the text side by side; the text's own height.
        auto* b = static_cast<QAbstractButton*>(w);
        return b->text().isEmpty() ? QSize() : QSize(b->sizeHint().width(), b->fontMetrics().height());
    }
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        if (b->text().isEmpty()) return {};
        const int margin = b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
        const int frame = b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
        const int icon = b->icon().isNull() ? 0 : b->iconSize().width() + 4;
        return {b->fontMetrics().horizontalAdvance(withoutMnemonic(b->text())) + icon + 2 * (margin + frame),
                b->fontMetrics().height()};
    }
    if (auto* g = qobject_cast<QGroupBox*>(w)) {
        if (g->title().isEmpty()) return {};
        return {g->fontMetrics().horizontalAdvance(withoutMnemonic(g->title())) + 2 * g->fontMetrics().averageCharWidth(), 0};
    }
    return {};
}

QString captionOf(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return {};
}

// Every caption of the shown dialog that its own box or one of the boxes holding it cuts.
QStringList cutCaptions(QWidget* dialog)
{
    QStringList cuts;
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(dialog) || w->isWindow()) continue;
        const QSize need = needed(w);
        if (need.isEmpty() && need.width() == 0 && need.height() == 0) continue;
        QString why;
        if (need.width() > w->width()) why = QStringLiteral("%1 px wide, needs %2").arg(w->width()).arg(need.width());
        else if (need.height() > w->height()) why = QStringLiteral("%1 px high, needs %2").arg(w->height()).arg(need.height());
        // The part the text takes must lie inside every parent up to the window.
        QRect text(QPoint(0, 0), QSize(qMin(w->width(), qMax(need.width(), 1)), qMin(w->height(), qMax(need.height(), 1))));
        for (QWidget* p = w; why.isEmpty() && p != dialog; p = p->parentWidget()) {
            text.translate(p->pos());
            // Inside a frame with a title, below the title and inside the frame's line.
            const QRect inside = qobject_cast<QGroupBox*>(p->parentWidget()) ? p->parentWidget()->contentsRect() : p->parentWidget()->rect();
            if (!inside.contains(text)) why = QStringLiteral("runs out of %1").arg(p->parentWidget()->objectName().isEmpty()
                                                                                       ? QString::fromLatin1(p->parentWidget()->metaObject()->className())
                                                                                       : p->parentWidget()->objectName());
        }
        if (!why.isEmpty()) cuts << QStringLiteral("\"%1\" (%2): %3").arg(captionOf(w), QString::fromLatin1(w->metaObject()->className()), why);
    }
    return cuts;
}

} // namespace

class TestDialogLabels : public QObject {
    Q_OBJECT
    Form1* f = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        f = start();
        QVERIFY(f);
        addPeople({{QStringLiteral("ann@example.org"), QStringLiteral("Ann"), QStringLiteral("Lee"), QStringLiteral("Acme"), QStringLiteral("Springfield")}});
        showMasterList(f);
        select(f, {1});
    }
    void cleanupTestCase() { end(); }
    void init() { scripted().clear(); }

    void captionsShowWhole_data()
    {
        QTest::addColumn<std::function<QWidget*(QWidget* keep)>>("make");
        using Make = std::function<QWidget*(QWidget*)>;
        auto composer = [](QWidget* keep) { return new frmCompose(keep); };
        auto withComposer = [composer](auto build) {
            return Make([composer, build](QWidget* keep) -> QWidget* {
                auto* c = static_cast<frmCompose*>(composer(keep));
                c->mi->SetSensitivity(3);  // the longest value the confirmation shows
                c->mi->SetReadReceiptRequested(true);
                return build(*c, keep);
            });
        };
        QTest::newRow("frmCompose") << Make([composer](QWidget* keep) {
            auto* c = static_cast<frmCompose*>(composer(keep));
            c->viewmBCC_Click();
            c->viewmReplyTo_Click();
            return c;
        });
        QTest::newRow("Form15") << withComposer([](frmCompose& c, QWidget* keep) { return new Form15(c, keep); });
        QTest::newRow("Form17") << withComposer([](frmCompose& c, QWidget* keep) { return new Form17(c, keep); });
        QTest::newRow("Form18") << withComposer([](frmCompose& c, QWidget* keep) { return new Form18(c, keep); });
        QTest::newRow("Form20") << withComposer([](frmCompose& c, QWidget* keep) { return new Form20(c, keep); });
        QTest::newRow("Form24") << withComposer([](frmCompose& c, QWidget* keep) { return new Form24(c, keep); });
        QTest::newRow("Form2") << Make([](QWidget* keep) { return new Form2(keep); });
        QTest::newRow("Form3") << Make([](QWidget* keep) { return new Form3(keep); });
        QTest::newRow("Form4") << Make([](QWidget* keep) { return new Form4(keep); });
        QTest::newRow("Form5") << Make([](QWidget* keep) { return new Form5(keep); });
        QTest::newRow("Form12") << Make([](QWidget* keep) {
            auto* opener = new Form5(keep);
            return new Form12(opener);
        });
        QTest::newRow("Form13") << Make([](QWidget* keep) { return new Form13(keep); });
        QTest::newRow("Form6") << Make([this](QWidget*) { return new Form6(f); });
        QTest::newRow("Form7") << Make([](QWidget* keep) { return new Form7(keep); });
        QTest::newRow("Form8") << Make([](QWidget* keep) { return new Form8(keep); });
        QTest::newRow("Form9") << Make([](QWidget* keep) { return new Form9(keep); });
        QTest::newRow("Form10") << Make([](QWidget* keep) { return new Form10(keep); });
        QTest::newRow("Form19") << Make([](QWidget* keep) { return new Form19(keep); });
        QTest::newRow("Form11") << Make([](QWidget* keep) { return new Form11(keep); });
        QTest::newRow("Form16") << Make([](QWidget* keep) { return new Form16(keep); });
        QTest::newRow("Form22") << Make([](QWidget* keep) { return new Form22(keep); });
        QTest::newRow("Form23") << Make([](QWidget* keep) { return new Form23(keep); });
        QTest::newRow("Form1") << Make([this](QWidget*) { return f; });
    }
    void captionsShowWhole()
    {
        QFETCH(std::function<QWidget*(QWidget*)>, make);
        // Every window made hangs under this one, so one delete ends them all.
        auto keep = std::make_unique<QWidget>();
        QWidget* dialog = make(keep.get());
        QVERIFY(dialog);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        const QStringList cuts = cutCaptions(dialog);
        if (dialog != f) dialog->hide();
        QVERIFY2(cuts.isEmpty(), qPrintable(QStringLiteral("font %1 %2pt:\n").arg(dialog->font().family()).arg(dialog->font().pointSizeF())
                                            + cuts.join(QLatin1Char('\n'))));
    }
};

FERROWYN_TEST_MAIN(TestDialogLabels)
#include "tst_DialogLabels.moc"
