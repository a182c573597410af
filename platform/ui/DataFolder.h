#pragma once
#include <QString>

namespace ui {

// The folder that holds all lasting state: $FERROWYN_HOME, else the per-user application data
// folder. Created on first use. Returned without a trailing separator.
QString DataFolder();
// A file or folder inside the data folder.
QString DataPath(const QString& name);

} // namespace ui
