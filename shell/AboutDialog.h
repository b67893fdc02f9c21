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
    // Beside OK, under the frame: what carries the MIDI ("MIDI: PipeWire 0.3.65").
    QLabel* StatusText() const { return m_status; }
    void SetStatusText(const QString& text);

private:
    QLabel* m_version = nullptr;
    QLabel* m_credits = nullptr;
    QLabel* m_status = nullptr;
};
