#include "workstation/RestoreDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "messages/Messages.h"
#include "messages/StringTable.h"

CRestoreDialog::CRestoreDialog(QWidget* parent, const QString& file, const std::vector<Bank>& banks,
                               const QString& safetyPath)
    : QDialog(parent) {
    setObjectName(QStringLiteral("restoreDialog"));
    setWindowTitle(bq::LoadString(bq::StringId::RestoreTitle));
    auto* layout = new QVBoxLayout(this);
    // Names from files are shown as they are, never as markup.
    auto* intro = new QLabel(bq::FormatText(bq::LoadString(bq::StringId::RestoreIntro), {file}));
    intro->setTextFormat(Qt::PlainText);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    for (const Bank& bank : banks) {
        auto* box = new QCheckBox(bank.text);
        box->setChecked(bank.differs);
        box->setEnabled(bank.differs);
        connect(box, &QCheckBox::toggled, this, &CRestoreDialog::Follow);
        layout->addWidget(box);
        m_boxes.push_back(box);
        m_indexes.push_back(bank.index);
    }
    m_safety =
        new QCheckBox(bq::FormatText(bq::LoadString(bq::StringId::RestoreSafety), {safetyPath}));
    m_safety->setObjectName(QStringLiteral("saveFirst"));
    m_safety->setChecked(true);
    layout->addSpacing(fontMetrics().height() / 2);
    layout->addWidget(m_safety);
    auto* buttons = new QDialogButtonBox;
    m_restore = buttons->addButton(bq::LoadString(bq::StringId::RestoreButton),
                                   QDialogButtonBox::AcceptRole);
    m_restore->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    Follow();
}

void CRestoreDialog::Follow() {
    m_restore->setEnabled(!Chosen().empty());
}

std::vector<int> CRestoreDialog::Chosen() const {
    std::vector<int> chosen;
    for (std::size_t i = 0; i < m_boxes.size(); ++i) {
        if (m_boxes[i]->isChecked()) {
            chosen.push_back(m_indexes[i]);
        }
    }
    return chosen;
}

bool CRestoreDialog::SaveFirst() const {
    return m_safety->isChecked();
}
