#pragma once
// Which input the person used last: a key or a pointer. Focus that the window moves by itself
// (back from a closing popup, into an opening one) carries the reason this gives, so its ring
// shows after keys, as it does after Tab, and stays away after a click.

#include <QObject>
#include <QtQml/qqml.h>

class InputModality : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(Qt::FocusReason focusReason READ focusReason NOTIFY focusReasonChanged)

public:
    // Watches the application's key and pointer presses from now on.
    explicit InputModality(QObject* parent = nullptr);

    // Tab after a key press, mouse otherwise (also before any input).
    Qt::FocusReason focusReason() const { return keyboard_ ? Qt::TabFocusReason : Qt::MouseFocusReason; }

signals:
    void focusReasonChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool keyboard_ = false;
};
