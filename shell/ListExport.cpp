#include "shell/ListExport.h"

#include <QFileInfo>
#include <QSaveFile>

#include <string>

#include "messages/StringTable.h"
#include "model/ItemExport.h"

namespace bq {

QStringList ListNameFilters() {
    return {LoadString(StringId::CsvFilter), LoadString(StringId::TextFilter)};
}

ListFormat ListFormatFor(const QString& path, const QString& nameFilter) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv")) {
        return ListFormat::Csv;
    }
    if (suffix == QLatin1String("txt")) {
        return ListFormat::Text;
    }
    return nameFilter == LoadString(StringId::TextFilter) ? ListFormat::Text : ListFormat::Csv;
}

bool WriteList(const QString& path, const ItemCatalog& catalog, ListFormat format, QString* error) {
    const std::string text = format == ListFormat::Csv ? ExportCsv(catalog) : ExportText(catalog);
    // Written beside the target and renamed over it once whole: a failure half-way leaves an
    // earlier file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        if (error != nullptr) {
            *error = file.errorString();
        }
        file.cancelWriting();
        return false;
    }
    return true;
}

}  // namespace bq
