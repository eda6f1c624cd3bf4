// Helpers for tests that drive the real window.
#pragma once

#include "app/mainform.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>

namespace tarvik::test {

template <typename T = QWidget> T* child(const QWidget& form, const char* name)
{
    T* widget = form.findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control named %s", name);
    return widget;
}

// The log as the user sees it, one string per line.
inline QStringList logLines(const QWidget& form)
{
    return child<QPlainTextEdit>(form, "Help_Text")->toPlainText().split(QLatin1Char('\n'));
}

inline void click(const QWidget& form, const char* button)
{
    QTest::mouseClick(child<QPushButton>(form, button), Qt::LeftButton);
}

// Clicks item `row` of the device list as the user does: a press and release on the item.
inline void clickDevice(const QWidget& form, int row)
{
    auto* list = child<QListWidget>(form, "Device_List");
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

// Answers the next modal message box with `button` once it is shown; returns the box's text and
// title through the given strings.
inline void answerNextMessageBox(QMessageBox::StandardButton button, QString* text = nullptr, QString* title = nullptr)
{
    QTimer::singleShot(0, qApp, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            qFatal("no message box is shown");
        if (text)
            *text = box->text();
        if (title)
            *title = box->windowTitle();
        box->button(button)->click();
    });
}

} // namespace tarvik::test
