#include "gui/logs/csv_file.h"

#include <QSaveFile>

namespace kelvora::panel {

bool SaveTextFile(const QString& path, const std::string& text, QString* error) {
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.write(text.data(), static_cast<qint64>(text.size())) ==
                        static_cast<qint64>(text.size()) &&
                    file.commit();
    if (!ok && error != nullptr) *error = file.errorString();
    return ok;
}

}  // namespace kelvora::panel
