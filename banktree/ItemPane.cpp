#include "banktree/ItemPane.h"

#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/KarmaObject.h"

namespace {

constexpr std::size_t kBytesPerLine = 16;
constexpr int kMostPlaceRows = 6;

QLabel* NewLabel(QWidget* parent, const char* objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(objectName));
    // Names come from files: "<b>Pad" is shown as those characters.
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

CItemPane::CItemPane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("CItemPane"));
    // It takes the focus as the empty pane did, so that F6 moves between the panes.
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

CItemPane::~CItemPane() = default;

void CItemPane::Build() {
    if (m_content != nullptr) {
        return;
    }
    // In a scroll area: the pane may be made narrower or lower than what it shows, and the
    // splitter must not take the width from the bank view to make room for it.
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    m_content = new QWidget;
    scroll->setWidget(m_content);
    // See-through, so that the hint painted on the pane shows while there is no item.
    scroll->viewport()->setAutoFillBackground(false);
    m_content->setAutoFillBackground(false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    auto* column = new QVBoxLayout(m_content);
    m_note = NewLabel(m_content, "note");
    m_note->setTextFormat(Qt::RichText);
    m_note->setWordWrap(true);
    m_note->hide();
    column->addWidget(m_note);

    // What belongs to the item; hidden while there is none.
    m_itemPart = new QWidget(m_content);
    column->addWidget(m_itemPart, 1);
    column->addStretch(0);  // takes the space while there is no item
    m_itemPart->hide();
    auto* itemColumn = new QVBoxLayout(m_itemPart);
    itemColumn->setContentsMargins(0, 0, 0, 0);

    m_name = NewLabel(m_itemPart, "name");
    QFont bold = m_name->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    m_name->setFont(bold);
    itemColumn->addWidget(m_name);

    auto* form = new QFormLayout;
    m_form = form;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_kind = NewLabel(m_itemPart, "kind");
    m_bank = NewLabel(m_itemPart, "bank");
    m_slot = NewLabel(m_itemPart, "slot");
    m_size = NewLabel(m_itemPart, "size");
    form->addRow(bq::LoadString(bq::StringId::KindLabel), m_kind);
    form->addRow(bq::LoadString(bq::StringId::BankLabel), m_bank);
    form->addRow(bq::LoadString(bq::StringId::SlotLabel), m_slot);
    form->addRow(bq::LoadString(bq::StringId::SizeLabel), m_size);

    auto* places = new QWidget(m_itemPart);
    auto* placesColumn = new QVBoxLayout(places);
    placesColumn->setContentsMargins(0, 0, 0, 0);
    m_nowhere = NewLabel(places, "nowhere");
    m_nowhere->setText(bq::LoadString(bq::StringId::NowhereElseOpen));
    m_places = new QListWidget(places);
    m_places->setObjectName(QStringLiteral("places"));
    m_places->setAccessibleName(bq::LoadString(bq::StringId::AlsoInName));
    m_places->hide();
    placesColumn->addWidget(m_nowhere);
    placesColumn->addWidget(m_places);
    form->addRow(bq::LoadString(bq::StringId::AlsoInLabel), places);

    // A Program's row: the Combinations that play it.
    m_usersPart = new QWidget(m_itemPart);
    auto* usersColumn = new QVBoxLayout(m_usersPart);
    usersColumn->setContentsMargins(0, 0, 0, 0);
    m_noUsers = NewLabel(m_usersPart, "noUsers");
    m_users = new QListWidget(m_usersPart);
    m_users->setObjectName(QStringLiteral("users"));
    m_users->setAccessibleName(bq::LoadString(bq::StringId::UsedByName));
    m_users->hide();
    usersColumn->addWidget(m_noUsers);
    usersColumn->addWidget(m_users);
    form->addRow(bq::LoadString(bq::StringId::UsedByLabel), m_usersPart);
    form->setRowVisible(m_usersPart, false);
    itemColumn->addLayout(form);

    // A Combination's timbres, as wide as the pane.
    m_timbresPart = new QWidget(m_itemPart);
    auto* timbresColumn = new QVBoxLayout(m_timbresPart);
    timbresColumn->setContentsMargins(0, 0, 0, 0);
    QLabel* timbresLabel = NewLabel(m_timbresPart, "timbresLabel");
    timbresLabel->setText(bq::LoadString(bq::StringId::TimbresLabel));
    m_timbres = new CTimbreList(m_timbresPart);
    timbresLabel->setBuddy(m_timbres);
    timbresColumn->addWidget(timbresLabel);
    timbresColumn->addWidget(m_timbres);
    m_timbresPart->hide();
    itemColumn->addWidget(m_timbresPart);

    m_status = NewLabel(m_itemPart, "status");
    m_status->setWordWrap(true);
    m_status->hide();
    itemColumn->addWidget(m_status);

    m_hex = new QPlainTextEdit(m_itemPart);
    m_hex->setObjectName(QStringLiteral("record"));
    m_hex->setAccessibleName(bq::LoadString(bq::StringId::RecordName));
    m_hex->setReadOnly(true);
    m_hex->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_hex->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    itemColumn->addWidget(m_hex, 1);

    // A click or Return on a place goes there. Queued: going there may change this pane,
    // and the list must not be refilled inside its own signal.
    auto activate = [this](QListWidgetItem* item) {
        const int row = m_places->row(item);
        if (row >= 0) {
            QMetaObject::invokeMethod(
                this, [this, row] { emit PlaceActivated(row); }, Qt::QueuedConnection);
        }
    };
    connect(m_places, &QListWidget::itemClicked, this, activate);
    connect(m_places, &QListWidget::itemActivated, this, activate);
    auto activateUser = [this](QListWidgetItem* item) {
        const int row = m_users->row(item);
        if (row >= 0) {
            QMetaObject::invokeMethod(
                this, [this, row] { emit UserActivated(row); }, Qt::QueuedConnection);
        }
    };
    connect(m_users, &QListWidget::itemClicked, this, activateUser);
    connect(m_users, &QListWidget::itemActivated, this, activateUser);
    connect(m_timbres, &CTimbreList::ProgramActivated, this, &CItemPane::TimbreActivated);
    scroll->show();
}

void CItemPane::ShowItem(const Item& item) {
    Build();
    m_hasItem = true;
    unsigned long size = 0;
    const unsigned char* data = item.object != nullptr ? item.object->GetData(&size) : nullptr;
    m_name->setText(item.name);
    m_kind->setText(item.kind);
    m_bank->setText(item.bank);
    m_slot->setText(item.slot);
    m_size->setText(data != nullptr ? bq::FormatText(bq::LoadString(bq::StringId::RecordBytes),
                                                     {QString::number(size)})
                                    : QString());
    // Only a new text moves the view back to the top.
    const QString hex = data != nullptr ? HexText(data, size) : QString();
    if (hex != m_hex->toPlainText()) {
        m_hex->setPlainText(hex);
    }
    m_itemPart->show();
    setFocusProxy(m_hex);
}

void CItemPane::ShowNothing() {
    m_hasItem = false;
    if (m_content == nullptr) {
        return;
    }
    // Everything but the note goes; the hint is painted in the space left.
    if (hasFocus()) {
        setFocusProxy(nullptr);
        setFocus();
    }
    setFocusProxy(nullptr);
    m_itemPart->hide();
    m_status->clear();
    m_hex->clear();
    m_places->clear();
    m_timbres->clear();
    m_users->clear();
    update();
}

void CItemPane::SetPlaces(const QStringList& places) {
    if (m_content == nullptr || !m_hasItem) {
        return;
    }
    m_places->clear();
    m_places->addItems(places);
    m_nowhere->setVisible(places.isEmpty());
    m_places->setVisible(!places.isEmpty());
    FitRows(m_places);
}

void CItemPane::SetTimbres(const std::vector<CTimbreList::Row>& rows) {
    if (m_content == nullptr || !m_hasItem) {
        return;
    }
    m_timbres->SetRows(rows);
    m_timbresPart->setVisible(!rows.empty());
    m_form->setRowVisible(m_usersPart, false);
    m_users->clear();
}

void CItemPane::SetUsers(const QStringList& users, const QString& none) {
    if (m_content == nullptr || !m_hasItem) {
        return;
    }
    const int current = m_users->currentRow();
    m_users->clear();
    m_users->addItems(users);
    if (current >= 0 && current < m_users->count()) {
        m_users->setCurrentRow(current);
    }
    m_noUsers->setText(none);
    m_noUsers->setVisible(users.isEmpty());
    m_users->setVisible(!users.isEmpty());
    FitRows(m_users);
    m_form->setRowVisible(m_usersPart, true);
    m_timbresPart->hide();
    m_timbres->clear();
}

void CItemPane::FitRows(QListWidget* list) {
    if (list->count() > 0) {
        const int rows = std::min(list->count(), kMostPlaceRows);
        list->setFixedHeight(rows * list->sizeHintForRow(0) + 2 * list->frameWidth());
    }
}

void CItemPane::SetStatus(const QString& text) {
    if (m_content == nullptr) {
        if (text.isEmpty()) {
            return;
        }
        Build();
    }
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

void CItemPane::SetNote(const QString& html) {
    if (m_content == nullptr) {
        if (html.isEmpty()) {
            return;
        }
        Build();
    }
    m_note->setText(html);
    m_note->setVisible(!html.isEmpty());
}

QString CItemPane::HexText(const unsigned char* data, std::size_t size) {
    static const char kDigits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(static_cast<qsizetype>((size / kBytesPerLine + 1) * 76));
    for (std::size_t line = 0; line < size; line += kBytesPerLine) {
        if (line != 0) {
            text += QLatin1Char('\n');
        }
        text += QStringLiteral("%1 ").arg(line, 4, 16, QLatin1Char('0')).toUpper();
        QString chars;
        for (std::size_t i = line; i < line + kBytesPerLine; ++i) {
            text += QLatin1Char(' ');
            if (i == line + kBytesPerLine / 2) {
                text += QLatin1Char(' ');
            }
            if (i < size) {
                const unsigned char b = data[i];
                text += QLatin1Char(kDigits[b >> 4]);
                text += QLatin1Char(kDigits[b & 0xF]);
                chars +=
                    b >= 0x20 && b < 0x7F ? QLatin1Char(static_cast<char>(b)) : QLatin1Char('.');
            } else {
                text += QLatin1String("  ");
            }
        }
        text += QLatin1String("  ");
        text += chars;
    }
    return text;
}

QString CItemPane::NameText() const {
    return m_hasItem ? m_name->text() : QString();
}

QString CItemPane::DetailsText() const {
    if (!m_hasItem) {
        return {};
    }
    QStringList parts = {
        m_kind->text(), bq::FormatText(bq::LoadString(bq::StringId::BankDetail), {m_bank->text()}),
        bq::FormatText(bq::LoadString(bq::StringId::SlotDetail), {m_slot->text()})};
    if (!m_size->text().isEmpty()) {
        parts << m_size->text();
    }
    return parts.join(QStringLiteral(", "));
}

QString CItemPane::StatusText() const {
    return m_hasItem && !m_status->isHidden() ? m_status->text() : QString();
}

QString CItemPane::NoteText() const {
    if (m_note == nullptr || m_note->isHidden()) {
        return {};
    }
    QTextDocument doc;
    doc.setHtml(m_note->text());
    return doc.toPlainText();
}

QStringList CItemPane::Places() const {
    QStringList texts;
    for (int i = 0; m_places != nullptr && i < m_places->count(); ++i) {
        texts << m_places->item(i)->text();
    }
    return texts;
}

QStringList CItemPane::TimbreTexts() const {
    return m_hasItem && !m_timbresPart->isHidden() ? m_timbres->Texts() : QStringList();
}

QStringList CItemPane::Users() const {
    QStringList texts;
    for (int i = 0; m_hasItem && m_users != nullptr && !m_users->isHidden() && i < m_users->count();
         ++i) {
        texts << m_users->item(i)->text();
    }
    return texts;
}

QString CItemPane::NoUsersText() const {
    return m_hasItem && !m_noUsers->isHidden() && m_usersPart->isVisibleTo(m_itemPart)
               ? m_noUsers->text()
               : QString();
}

void CItemPane::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (m_hasItem) {
        return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    QRect area = rect().adjusted(8, 8, -8, -8);
    if (m_note != nullptr && m_note->isVisible()) {
        area.setTop(m_note->mapTo(this, m_note->rect().bottomLeft()).y() + 8);
    }
    painter.drawText(area, Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap,
                     bq::LoadString(bq::StringId::ItemPaneHint));
}
