#include "shell/AboutDialog.h"

#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "messages/Messages.h"
#include "messages/StringTable.h"

namespace {

// The box is laid out in dialog units of an 8-point dialog font: 4 of them make an average
// character width (6 pixels) and 8 a character height (13 pixels).
QRect Units(int x, int y, int w, int h) {
    auto px = [](int u) { return u * 6 / 4; };
    auto py = [](int u) { return u * 13 / 8; };
    return QRect(px(x), py(y), px(w), py(h));
}

}  // namespace

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(bq::LoadString(bq::StringId::AboutTitle));
    setFixedSize(Units(0, 0, 176, 103).size());

    auto* frame = new QGroupBox(this);
    frame->setGeometry(Units(7, 3, 162, 74));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(QPixmap(QStringLiteral(":/res/images/bankquill.xpm")));
    icon->setGeometry(QRect(Units(15, 12, 0, 0).topLeft(), QSize(32, 32)));

    m_version = new QLabel(bq::LoadString(bq::StringId::AboutVersion), this);
    m_version->setGeometry(Units(45, 9, 115, 34));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    font.setBold(true);
    m_version->setFont(font);

    m_credits = new QLabel(bq::LoadString(bq::StringId::AboutCredits), this);
    m_credits->setWordWrap(true);
    m_credits->setGeometry(Units(23, 46, 129, 32));

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setTextFormat(Qt::PlainText);  // the server's own description
    m_status->setWordWrap(true);
    m_status->setGeometry(Units(7, 79, 108, 21));

    auto* ok = new QPushButton(bq::LoadString(bq::StringId::Ok), this);
    ok->setDefault(true);
    ok->setGeometry(Units(119, 82, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDialog::SetStatusText(const QString& text) {
    m_status->setText(text.isEmpty()
                          ? QString()
                          : bq::FormatText(bq::LoadString(bq::StringId::AboutMidi), {text}));
}
