#include "shell/PCGBankView.h"

#include <utility>

#include "messages/StringTable.h"
#include "model/ItemText.h"
#include "model/KarmaBank.h"
#include "model/Ref.h"

CPCGBankView::CPCGBankView(CKarmaRootContainer* root, QWidget* parent)
    : CBankTreeView(parent), m_root(root) {
    setObjectName(QStringLiteral("CPCGBankView"));
    SetImageList(LoadBankImageList());
    Fill(root);
}

void CPCGBankView::Fill(CKarmaRootContainer* root) {
    // Each item node's record takes over the reference that GetCombi / GetProgram returned.
    // Each group is filled while out of the tree and put back whole: one insertion for the
    // view to handle instead of one for each of the 1,536 items.
    QTreeWidgetItem* combinations =
        InsertItem(bq::LoadString(bq::StringId::Combinations), IMAGE_GROUP, 0);
    takeTopLevelItem(indexOfTopLevelItem(combinations));
    for (long b = 0; root != nullptr && b < CKarmaRootContainer::kBanks; ++b) {
        CKarmaCombiBank* bank = root->GetCombiBank(b);
        QTreeWidgetItem* bankNode = nullptr;
        for (long s = 0; bank != nullptr && s < CKarmaCombiBank::kSlots; ++s) {
            auto combi = bq::Ref<CKarmaObject>::Adopt(bank->GetCombi(s));
            if (!combi) {
                continue;
            }
            if (bankNode == nullptr) {
                bankNode =
                    InsertItem(bq::LoadString(bq::kCombiBankNames[b]), IMAGE_BANK, 0, combinations);
            }
            const QString label = QString::fromLatin1(bq::ItemText(s, *combi));
            InsertItemNode(label, IMAGE_COMBINATION, std::move(combi), b, s, bankNode);
        }
    }

    addTopLevelItem(combinations);

    QTreeWidgetItem* programs = InsertItem(bq::LoadString(bq::StringId::Programs), IMAGE_GROUP, 0);
    takeTopLevelItem(indexOfTopLevelItem(programs));
    for (long b = 0; root != nullptr && b < CKarmaRootContainer::kBanks; ++b) {
        CKarmaProgramBank* bank = root->GetProgramBank(b);
        QTreeWidgetItem* bankNode = nullptr;
        for (long s = 0; bank != nullptr && s < CKarmaProgramBank::kSlots; ++s) {
            auto program = bq::Ref<CKarmaObject>::Adopt(bank->GetProgram(s));
            if (!program) {
                continue;
            }
            if (bankNode == nullptr) {
                bankNode =
                    InsertItem(bq::LoadString(bq::kProgramBankNames[b]), IMAGE_BANK, 0, programs);
            }
            const QString label = QString::fromLatin1(bq::ItemText(s, *program));
            InsertItemNode(label, IMAGE_PROGRAM, std::move(program), b, s, bankNode);
        }
    }
    addTopLevelItem(programs);
}

bq::Ref<CKarmaObject> CPCGBankView::ProgramOf(const QTreeWidgetItem*, int bank, int slot) const {
    if (m_root == nullptr || bank < 0 || bank >= CKarmaRootContainer::kBanks) {
        return {};
    }
    CKarmaProgramBank* programs = m_root->GetProgramBank(bank);
    return programs != nullptr ? bq::Ref<CKarmaObject>::Adopt(programs->GetProgram(slot))
                               : bq::Ref<CKarmaObject>();
}
