#include "shell/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QHash>
#include <QIcon>
#include <QIdentityProxyModel>
#include <QImage>
#include <QPixmap>

#include "messages/StringTable.h"

namespace bq {

QStringList NameFilters(const QString& filterText) {
    // Pairs of description and pattern, ended by an empty entry.
    QStringList parts = filterText.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size() && !parts[i].isEmpty() && !parts[i + 1].isEmpty();
         i += 2) {
        const QString& name = parts[i];
        const QString& pattern = parts[i + 1];
        filters.append(name.contains(QLatin1Char('(') + pattern + QLatin1Char(')'))
                           ? name
                           : QStringLiteral("%1 (%2)").arg(name, pattern));
    }
    return filters;
}

namespace {

// The folder model makes the spacer picture of its first column's header anew at every call.
// Each new picture is a new entry in Qt's pixmap cache, and clearing the cache leaves their keys
// behind, so a dialog shown again and again grows the program. One picture, made the first time
// and handed out after, is drawn the same and found in the cache again.
class CSteadyHeaderModel : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        QVariant value = QIdentityProxyModel::headerData(section, orientation, role);
        if (role != Qt::DecorationRole || orientation != Qt::Horizontal ||
            value.typeId() != QMetaType::QImage) {
            return value;
        }
        auto found = m_pictures.find(section);
        if (found == m_pictures.end()) {
            found = m_pictures.insert(section, QIcon(QPixmap::fromImage(value.value<QImage>())));
        }
        return *found;
    }

private:
    mutable QHash<int, QIcon> m_pictures;  // by section
};

std::unique_ptr<QFileDialog> PcgDialog(QWidget* parent, const QString& title,
                                       QFileDialog::AcceptMode mode, const QString& suffix) {
    auto dialog = std::make_unique<QFileDialog>(parent, title);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(QFileDialog::AnyFile);
    const QStringList filters = NameFilters(LoadString(StringId::PcgFilter));
    dialog->setNameFilters(filters);
    if (!filters.isEmpty()) {
        dialog->selectNameFilter(filters.first());
    }
    dialog->setDefaultSuffix(suffix);
    dialog->setProxyModel(new CSteadyHeaderModel(dialog.get()));
    return dialog;
}

}  // namespace

std::unique_ptr<QFileDialog> OpenPcgDialog(QWidget* parent, const QString& title) {
    return PcgDialog(parent, title, QFileDialog::AcceptOpen, QStringLiteral("PCG"));
}

std::unique_ptr<QFileDialog> SavePcgDialog(QWidget* parent, const QString& title,
                                           const QString& name) {
    auto dialog = PcgDialog(parent, title, QFileDialog::AcceptSave, QStringLiteral("pcg"));
    dialog->setDirectory(QDir::homePath());
    dialog->selectFile(QDir::home().filePath(name));
    return dialog;
}

}  // namespace bq
