#pragma once

// The right-hand pane of a bank window: what the item selected in the bank view is. Its name,
// kind, bank, slot and record size; where else the same sound is open ("Also in:"); for a
// Combination its timbres and the Programs they play, for a Program the Combinations that play
// it ("Used by:"); and the record itself as a read-only hex view. Above it all, a note the
// window may set (the legend of a comparison). The pane only shows what it is given: the window
// that holds it says what is selected and where else it is. User-interface thread only.

#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstddef>
#include <vector>

#include "banktree/TimbreList.h"

class CKarmaObject;
class QFormLayout;
class QLabel;
class QListWidget;
class QPlainTextEdit;

class CItemPane : public QWidget {
    Q_OBJECT
public:
    explicit CItemPane(QWidget* parent = nullptr);
    ~CItemPane() override;

    // An item as the pane spells it; the record is read while ShowItem runs, not kept.
    struct Item {
        QString name;
        QString kind;  // "Combination" or "Program"
        QString bank;  // "A" ... "F", "F (MOSS)"
        QString slot;  // "000" ... "127"
        const CKarmaObject* object = nullptr;
    };

    void ShowItem(const Item& item);
    // No item: a group or bank node is selected, or nothing.
    void ShowNothing();
    bool HasItem() const { return m_hasItem; }

    // The other open places holding the same sound, as "Window: Kind Bank Slot" texts; none
    // reads "nowhere else open". PlaceActivated tells which one the user clicked.
    void SetPlaces(const QStringList& places);
    // What belongs to the kind of item shown, set after ShowItem: a Combination's timbres (none
    // hides the list), or a Program's users ("Used by:"); each hides the other. Set again for
    // the same item, the lists keep the keyboard and the row chosen. TimbreActivated and
    // UserActivated tell which row the user clicked.
    void SetTimbres(const std::vector<CTimbreList::Row>& rows);
    // The users as texts; none shows `none` instead.
    void SetUsers(const QStringList& users, const QString& none);

    // One line under the details (how the item compares with the instrument); empty hides it.
    void SetStatus(const QString& text);
    // Rich text at the top of the pane, for the whole window; empty hides it.
    void SetNote(const QString& html);

    // The bytes as the hex view shows them: per 16 bytes the offset, the bytes in hex (a gap
    // after the eighth) and the printable ASCII characters, others as '.'.
    static QString HexText(const unsigned char* data, std::size_t size);

    // What is shown, for readers of the pane (and tests).
    QString NameText() const;
    QString DetailsText() const;  // "Combination, Bank A, Slot 003, 996 bytes"
    QString StatusText() const;
    QString NoteText() const;
    QStringList Places() const;
    QListWidget* PlacesList() const { return m_places; }
    // Each timbre row's cells joined by " | ", when the list is shown.
    QStringList TimbreTexts() const;
    CTimbreList* TimbreList() const { return m_timbres; }
    // The users listed, or the line that says there are none; empty when not shown.
    QStringList Users() const;
    QString NoUsersText() const;
    QListWidget* UsersList() const { return m_users; }
    QPlainTextEdit* HexView() const { return m_hex; }

Q_SIGNALS:
    void PlaceActivated(int index);
    void TimbreActivated(int row);
    void UserActivated(int index);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The pane's widgets are made the first time there is something to show: windows open
    // without waiting for them.
    void Build();
    // A list's height for its rows, at most kMostPlaceRows of them.
    static void FitRows(QListWidget* list);

    bool m_hasItem = false;
    QWidget* m_content = nullptr;  // children, all null until Build
    QLabel* m_note = nullptr;
    QWidget* m_itemPart = nullptr;
    QLabel* m_name = nullptr;
    QLabel* m_kind = nullptr;
    QLabel* m_bank = nullptr;
    QLabel* m_slot = nullptr;
    QLabel* m_size = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_nowhere = nullptr;
    QListWidget* m_places = nullptr;
    QFormLayout* m_form = nullptr;
    QWidget* m_usersPart = nullptr;
    QLabel* m_noUsers = nullptr;
    QListWidget* m_users = nullptr;
    QWidget* m_timbresPart = nullptr;
    CTimbreList* m_timbres = nullptr;
    QPlainTextEdit* m_hex = nullptr;
};
