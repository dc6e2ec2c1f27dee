// The main window as assistive technology sees it: every control carries its own name and the
// title of the group it sits in (inner groups their own, not the outer group's), and Tab reaches
// every control in reading order. The expectation is read from the widgets themselves.
#include "tests/gui/support/GuiHarness.h"

#include <QAccessible>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTextEdit>

#include <map>

namespace {

struct Seen {
    QString name, group; // group: the title of the nearest enclosing group in the tree
    QStringList labelledBy;
};

// Walks the accessible tree below iface and records every widget by object name.
void walk(QAccessibleInterface* iface, const QString& group, std::map<QString, Seen>& seen) {
    if (!iface || !iface->object()) return;
    Seen s{iface->text(QAccessible::Name), group, {}};
    for (const auto& [other, relation] : iface->relations(QAccessible::Label))
        s.labelledBy << other->text(QAccessible::Name);
    seen[iface->object()->objectName()] = s;
    const QString inner = iface->role() == QAccessible::Grouping ? s.name : group;
    for (int i = 0; i < iface->childCount(); ++i)
        walk(iface->child(i), inner, seen);
}

// What assistive technology announces below root: the groups, and the controls (buttons, fields
// and the widgets given a name of their own).
QList<QWidget*> announced(QWidget* root) {
    QList<QWidget*> found;
    for (QWidget* w : root->findChildren<QWidget*>())
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QTextEdit*>(w) ||
            qobject_cast<QGroupBox*>(w) || !w->accessibleName().isEmpty())
            found << w;
    return found;
}

// What a widget is called: a group's title as read aloud ("&&" is "&"), a button's caption, the
// text of the label that names a field, or else its own accessible name.
QString expectedName(const QWidget* w) {
    if (auto* box = qobject_cast<const QGroupBox*>(w)) return box->title().replace("&&", "&");
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) return button->text().remove('&');
    for (QLabel* label : w->window()->findChildren<QLabel*>())
        if (label->buddy() == w) return label->text();
    return w->accessibleName();
}

// The title of the nearest group box that holds w, "" outside any.
QString groupOf(const QWidget* w) {
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (qobject_cast<const QGroupBox*>(p)) return expectedName(p);
    return "";
}

// A Tab stop is a control, or the radio buttons of one group together (the arrow keys move
// within the group).
QString stop(QWidget* w) {
    return qobject_cast<QRadioButton*>(w) ? w->parentWidget()->objectName() : w->objectName();
}

using AccessibilityTest = GuiFixture;

TEST_F(AccessibilityTest, EveryControlIsNamedLabelledByItsOwnGroupAndReachedByTabInReadingOrder) {
    QWidget* main = app->main->centralWidget(); // below the menus
    std::map<QString, Seen> seen;
    QList<QWidget*> checked;
    for (QWidget* window : {main, FindWidgetByName("SPDIFConfigFRM")}) {
        walk(QAccessible::queryAccessibleInterface(window), "", seen);
        checked << announced(window);
    }
    for (QWidget* w : checked) {
        SCOPED_TRACE(w->objectName().toStdString());
        ASSERT_TRUE(seen.count(w->objectName())) << "not in the accessible tree";
        const Seen& s = seen[w->objectName()];
        EXPECT_FALSE(s.name.isEmpty());
        EXPECT_EQ(s.name.toStdString(), expectedName(w).toStdString());
        EXPECT_EQ(s.group.toStdString(), groupOf(w).toStdString());
        // A field's buddy label names it; a control is labelled by its group, a group by nothing.
        const QString group = qobject_cast<QGroupBox*>(w) ? "" : groupOf(w);
        QStringList labels = s.labelledBy;
        if (s.name != group) labels.removeAll(s.name);
        EXPECT_EQ(labels.join(", ").toStdString(), group.toStdString());
    }
    // The special cases: a buddy-labelled field, a nested group.
    for (auto [object, name, group] :
         {std::tuple{"mclktxt", "MCLK = ", "Select MCLK "},
          {"DvddGroup", "Select DVDD  Voltage", "Setup MCLK &  PLL for Codec"}}) {
        EXPECT_EQ(seen[object].name.toStdString(), name);
        EXPECT_EQ(seen[object].group.toStdString(), group) << object;
    }

    // Tab visits every enabled control of the main window in reading order.
    main->activateWindow();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == main->window(); }));
    FindWidgetByName("mainfrm/setrs232cmd")->setFocus(Qt::TabFocusReason);
    QList<QWidget*> visited;
    while (visited.size() < 60 && !visited.contains(QApplication::focusWidget())) {
        visited << QApplication::focusWidget();
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &tab);
    }
    QStringList stops, expected;
    for (QWidget* w : announced(main))
        if (w->isEnabled() && !qobject_cast<QGroupBox*>(w) && !expected.contains(stop(w)))
            expected << stop(w);
    // Reading order: each stop lies below the one before or to its right.
    for (qsizetype i = 0; i < visited.size(); ++i) {
        stops << stop(visited[i]);
        if (i == 0) continue;
        const QRect before(visited[i - 1]->mapTo(main, QPoint()), visited[i - 1]->size());
        const QRect here(visited[i]->mapTo(main, QPoint()), visited[i]->size());
        EXPECT_TRUE(here.top() > before.bottom() || here.left() > before.right())
            << stops[i - 1].toStdString() << " then " << stops[i].toStdString();
    }
    stops.sort();
    expected.sort();
    EXPECT_EQ(stops.join(" ").toStdString(), expected.join(" ").toStdString());
}

} // namespace
