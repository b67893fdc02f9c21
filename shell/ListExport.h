#pragma once

// File > Export List...: the items of a window written as CSV or as the tree's own text,
// whichever the file type says. The lists themselves come from the model (model/ItemExport).

#include <QString>
#include <QStringList>

#include "model/ItemCatalog.h"

namespace bq {

enum class ListFormat { Csv, Text };

// The save dialog's file types, CSV first.
QStringList ListNameFilters();
// By the name's suffix (".csv", ".txt", any case); for any other, by the file type chosen.
ListFormat ListFormatFor(const QString& path, const QString& nameFilter);
// Replaces the file whole or leaves it as it was; false with the reason in *error.
bool WriteList(const QString& path, const ItemCatalog& catalog, ListFormat format, QString* error);

}  // namespace bq
