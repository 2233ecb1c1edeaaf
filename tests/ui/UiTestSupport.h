#pragma once
// What the widget tests share: one QApplication (offscreen), typing Cyrillic,
// triggering actions by name and reading the rows of a view as the user sees them.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QStringList>
#include <QWidget>

#include <gtest/gtest.h>

QApplication& TestApp();

// QTest::keyClicks aborts on non-Latin-1 text: this sends one key event per character.
void TypeText(QWidget* widget, const QString& text);

// Triggers the named action of `window`; a failure when it is missing or disabled.
::testing::AssertionResult Trigger(QWidget* window, const char* actionName);

// The display texts of a view's rows, top to bottom, and of its current row.
QStringList Rows(const QAbstractItemView* view);
QString SelectedText(const QAbstractItemView* view);
// Makes the row showing `text` current (as a click would); false when absent.
bool SelectRow(QAbstractItemView* view, const QString& text);
