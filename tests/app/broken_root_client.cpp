// The client's start-up with a main window that cannot be created (Broken.qml).
#include "app/shell/client_start.h"

int main(int argc, char** argv) { return runClient(argc, argv, QUrl(QStringLiteral("qrc:/broken/Broken.qml"))); }
