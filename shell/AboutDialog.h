#pragma once

#include <QDialog>

class QLabel;

// The About box: icon, bold version text, credits and OK.
class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);

    QLabel* VersionText() const { return m_version; }
    QLabel* CreditsText() const { return m_credits; }

private:
    QLabel* m_version = nullptr;
    QLabel* m_credits = nullptr;
};
