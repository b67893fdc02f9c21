#pragma once

#include "banktree/BankTreeView.h"

class CKarmaRootContainer;

// The banks of one loaded PCG file as a tree: the "Combinations" group above "Programs", under
// each the banks that hold items, under each bank its items. Built once; a drag source that
// ignores drops. User-interface thread only.
class CPCGBankView : public CBankTreeView {
    Q_OBJECT
public:
    // Shows `root`, which the window's file owns and which outlives the view.
    explicit CPCGBankView(CKarmaRootContainer* root, QWidget* parent = nullptr);

    // The file's Program there.
    bq::Ref<CKarmaObject> ProgramOf(const QTreeWidgetItem* item, int bank, int slot) const override;

private:
    void Fill(CKarmaRootContainer* root);

    CKarmaRootContainer* m_root = nullptr;  // the file's
};
