#pragma once

// The find bar of the main window: a field for part of a name, the option "Combinations using
// it" (a Program's match brings along the Combinations that play it) and the count of matches
// per window. The main window connects it to the find; Escape (the main window's key) closes it.
// User-interface thread only.

#include <QToolBar>

class QCheckBox;
class QLabel;
class QLineEdit;

class CFindBar : public QToolBar {
    Q_OBJECT
public:
    explicit CFindBar(QWidget* parent = nullptr);

    QLineEdit* Field() const { return m_field; }
    QCheckBox* UsersOption() const { return m_users; }
    QLabel* CountsLabel() const { return m_counts; }
    // Shows the bar with the keyboard in the field, its text selected for a new one.
    void Focus();
    // The counts line; the whole of it in the tip when the bar is too narrow for it.
    void SetCounts(const QString& text);

signals:
    void TextChanged(const QString& text);
    void UsersOptionChanged(bool on);
    void CloseRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowCounts();

    QLineEdit* m_field = nullptr;
    QCheckBox* m_users = nullptr;
    QLabel* m_counts = nullptr;
    QString m_countsText;
};
