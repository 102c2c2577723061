// The Orvik client. The two QML modules are linked in statically; their plugins are named
// here so that the linker keeps them.
#include <QtQml/qqmlextensionplugin.h>

#include "app/shell/client_start.h"

Q_IMPORT_QML_PLUGIN(Orvik_StylePlugin)
Q_IMPORT_QML_PLUGIN(Orvik_TesselPlugin)

int main(int argc, char** argv) { return runClient(argc, argv); }
