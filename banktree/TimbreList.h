#pragma once

// The timbres of a Combination as its item pane lists them: a row a timbre, with its number,
// status, the Program it plays, MIDI channel, key range and velocity range. A row whose Program
// the window holds is a link: a click on it, or Return, asks for that Program
// (ProgramActivated). The cells are plain text, names from files included. User-interface
// thread only.

#include <QString>
#include <QStringList>
#include <QTreeWidget>

#include <vector>

class CTimbreList : public QTreeWidget {
    Q_OBJECT
public:
    enum Column : int { kTimbre = 0, kStatus, kProgram, kChannel, kKeys, kVelocity, kColumns };

    // A timbre as the list shows it. A `linked` row names a Program of the same window; a `dim`
    // one a Program the timbre does not play, or one the window does not hold.
    struct Row {
        QString number;
        QString status;
        QString program;
        QString channel;
        QString keys;
        QString velocity;
        bool linked = false;
        bool dim = false;
    };

    explicit CTimbreList(QWidget* parent = nullptr);

    void SetRows(const std::vector<Row>& rows);
    // Each row's cells joined by " | ", for readers of the pane (and tests).
    QStringList Texts() const;
    bool IsLinked(int row) const;

    QSize sizeHint() const override;
    // As high as the rows, as narrow as any list: the pane scrolls sideways when narrower.
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void ProgramActivated(int row);

private:
    void Activate(QTreeWidgetItem* item);

    std::vector<bool> m_linked;  // by row
};
