// Writes an export to disk in one piece, so a full disk or a pulled stick never leaves half a
// file that looks complete.
#pragma once

#include <string>

#include <QString>

namespace kelvora::panel {

// False, with the reason in *error, when the file could not be written whole.
bool SaveTextFile(const QString& path, const std::string& text, QString* error);

}  // namespace kelvora::panel
