#include "shell/FindBar.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>

#include <algorithm>

#include "messages/Messages.h"
#include "messages/StringTable.h"

namespace {

constexpr int kFieldWidth = 220;
constexpr int kCountsWidth = 200;

// Takes the width the bar has left rather than the width of its text, which may be long: the
// text is cut to fit and the whole of it goes in the tip.
class FittingLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return {kCountsWidth, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

}  // namespace

CFindBar::CFindBar(QWidget* parent) : QToolBar(bq::LoadString(bq::StringId::FindTitle), parent) {
    setObjectName(QStringLiteral("findBar"));
    setMovable(false);
    setFloatable(false);

    auto* label = new QLabel(bq::LoadString(bq::StringId::FindLabel), this);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("findField"));
    m_field->setAccessibleName(bq::LoadString(bq::StringId::FindTitle));
    m_field->setPlaceholderText(bq::LoadString(bq::StringId::FindPlaceholder));
    m_field->setClearButtonEnabled(true);
    m_field->setFixedWidth(kFieldWidth);
    label->setBuddy(m_field);
    m_users = new QCheckBox(bq::LoadString(bq::StringId::FindUsersOption), this);
    m_users->setObjectName(QStringLiteral("findUsers"));
    m_users->setToolTip(bq::LoadString(bq::StringId::FindUsersTip));
    m_counts = new FittingLabel(this);
    m_counts->setObjectName(QStringLiteral("findCounts"));
    m_counts->setTextFormat(Qt::PlainText);  // it names the files
    m_counts->setContentsMargins(8, 0, 8, 0);
    m_counts->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    addWidget(label);
    addWidget(m_field);
    addWidget(m_users);
    addWidget(m_counts);
    QAction* close = addAction(style()->standardIcon(QStyle::SP_TitleBarCloseButton),
                               bq::LoadString(bq::StringId::CloseFind));
    close->setObjectName(QStringLiteral("closeFind"));
    close->setToolTip(bq::LoadString(bq::StringId::CloseFindTip));
    connect(close, &QAction::triggered, this, &CFindBar::CloseRequested);
    connect(m_field, &QLineEdit::textChanged, this, &CFindBar::TextChanged);
    connect(m_users, &QCheckBox::toggled, this, &CFindBar::UsersOptionChanged);
}

void CFindBar::Focus() {
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void CFindBar::SetCounts(const QString& text) {
    m_countsText = text;
    ShowCounts();
}

void CFindBar::resizeEvent(QResizeEvent* event) {
    QToolBar::resizeEvent(event);
    ShowCounts();
}

void CFindBar::ShowCounts() {
    const QString shown = m_counts->fontMetrics().elidedText(m_countsText, Qt::ElideRight,
                                                             std::max(m_counts->width() - 16, 40));
    m_counts->setText(shown);
    m_counts->setToolTip(shown != m_countsText ? bq::PlainTip(m_countsText) : QString());
    m_counts->setAccessibleName(m_countsText);
}
