#include "input_modality.h"

#include <QCoreApplication>
#include <QEvent>

InputModality::InputModality(QObject* parent) : QObject(parent) {
    if (QCoreApplication* application = QCoreApplication::instance()) application->installEventFilter(this);
}

bool InputModality::eventFilter(QObject* watched, QEvent* event) {
    bool keyboard = keyboard_;
    switch (event->type()) {
    case QEvent::KeyPress:
        keyboard = true;
        break;
    case QEvent::MouseButtonPress:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        keyboard = false;
        break;
    default:
        break;
    }
    if (keyboard != keyboard_) {
        keyboard_ = keyboard;
        emit focusReasonChanged();
    }
    return QObject::eventFilter(watched, event);
}
