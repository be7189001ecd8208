#pragma once

#include <QString>

class QWidget;

// A "警告" box over parent with the single button OK; text and details are
// shown as plain text, never as markup (they may hold paths and cell text).
void showWarning(QWidget *parent, const QString &text, const QString &details = QString());

// The "提示" box that offers to open what was just written: action (button
// 0, the default) or "取消", Escape doing nothing; the action opens path
// with the desktop's default application.
void offerToOpen(QWidget *parent, const QString &text, const QString &action, const QString &path);
