#include "app/shell/user_folder.h"

#include <QDir>

QString userOnlyFolder(QString&) { return QDir::tempPath(); }  // in the user's own profile
