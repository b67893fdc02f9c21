#pragma once

// The question before a restore: the banks the file holds, each with how many of its slots
// differ from what the instrument holds (ticked when some do; one that is the same cannot be
// ticked), and whether to save what the instrument holds first. User-interface thread only.

#include <QDialog>
#include <QString>

#include <vector>

class QCheckBox;

class CRestoreDialog : public QDialog {
    Q_OBJECT
public:
    struct Bank {
        int index = 0;  // 0..11, as the backup numbers the banks
        QString text;   // "Combination Bank C: 12 of 128 slots differ"
        bool differs = false;
    };

    CRestoreDialog(QWidget* parent, const QString& file, const std::vector<Bank>& banks,
                   const QString& safetyPath);

    // The banks ticked, in the order given.
    std::vector<int> Chosen() const;
    bool SaveFirst() const;

private:
    void Follow();

    std::vector<int> m_indexes;
    std::vector<QCheckBox*> m_boxes;
    QCheckBox* m_safety = nullptr;
    class QPushButton* m_restore = nullptr;
};
