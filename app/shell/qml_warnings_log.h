#pragma once
// Appends QML warnings to one file under the temporary directory, for a user to send in.

#include <QList>
#include <QQmlError>
#include <QString>

QString qmlWarningsLogPath();
void appendQmlWarnings(const QList<QQmlError>& warnings, const QString& path = qmlWarningsLogPath());
