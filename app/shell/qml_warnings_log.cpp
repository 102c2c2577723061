#include "app/shell/qml_warnings_log.h"

#include <QFile>
#include <QStandardPaths>

QString qmlWarningsLogPath() {
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/orvik-qml.log");
}

void appendQmlWarnings(const QList<QQmlError>& warnings, const QString& path) {
    QFile log(path);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) return;  // dropped
    for (const QQmlError& warning : warnings) log.write(warning.toString().toUtf8() + '\n');
}
