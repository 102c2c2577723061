import QtQuick

// A main window that cannot be created: the start-up must log why and end with -1.
Window {
    NoSuchItem {}
}
