#include "messages/Messages.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTextDocument>
#include <QWidget>

#include <algorithm>
#include <vector>

#include "messages/StringTable.h"

namespace bq {
namespace {

// The MIDI services fill a 255-character buffer with its terminator at the end.
constexpr qsizetype kMidiTextLimit = 254;

QMessageBox::Icon IconOf(unsigned style) {
    switch (style & 0xF0u) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONWARNING:
            return QMessageBox::Warning;
        case 0x20u:
            return QMessageBox::Question;
        case 0x40u:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

// A box closed without a button (title bar, Escape) counts as its escape answer.
int AnswerOf(int button, unsigned style) {
    switch (button) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Ok:
            return IDOK;
        default:
            return (style & 0x0Fu) == MB_YESNO ? IDNO : IDOK;
    }
}

QMessageBox::StandardButton ButtonOf(int answer) {
    switch (answer) {
        case IDYES:
            return QMessageBox::Yes;
        case IDNO:
            return QMessageBox::No;
        case IDCANCEL:
            return QMessageBox::Cancel;
        default:
            return QMessageBox::Ok;
    }
}

// Modal QMessageBox boxes. Boxes may nest (a question raised while another is open), so the
// open ones are kept in order and Withdraw ends the newest.
class BoxPresenter final : public IMessagePresenter {
public:
    int Show(const QString& text, unsigned style) override {
        // The owner may be disabled (a transfer in progress); the box is a window of its own
        // and stays answerable.
        QWidget* owner = MainWindow();
        QMessageBox box(
            IconOf(style), LoadString(StringId::AppTitle), text,
            (style & 0x0Fu) == MB_YESNO ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
            owner);
        box.setWindowModality(Qt::ApplicationModal);
        // The texts carry names from files and devices, shown as they are written.
        box.setTextFormat(Qt::PlainText);
        if ((style & 0x0Fu) == MB_YESNO) {
            box.setDefaultButton((style & MB_DEFBUTTON2) != 0 ? QMessageBox::No : QMessageBox::Yes);
        }
        m_open.emplace_back(&box);
        const int result = box.exec();
        std::erase_if(m_open, [&box](const QPointer<QMessageBox>& p) {
            return p.isNull() || p.data() == &box;
        });
        return AnswerOf(result, style);
    }

    int Choose(const QString& text, unsigned style, const QStringList& answers, int defaultIndex,
               int escapeIndex) override {
        QMessageBox box(IconOf(style), LoadString(StringId::AppTitle), text, QMessageBox::NoButton,
                        MainWindow());
        box.setWindowModality(Qt::ApplicationModal);
        box.setTextFormat(Qt::PlainText);
        std::vector<QAbstractButton*> buttons;
        for (const QString& answer : answers) {
            buttons.push_back(box.addButton(answer, QMessageBox::ActionRole));
        }
        if (defaultIndex >= 0 && defaultIndex < static_cast<int>(buttons.size())) {
            box.setDefaultButton(static_cast<QPushButton*>(buttons[defaultIndex]));
        }
        if (escapeIndex >= 0 && escapeIndex < static_cast<int>(buttons.size())) {
            box.setEscapeButton(buttons[escapeIndex]);
        }
        m_open.emplace_back(&box);
        box.exec();
        std::erase_if(m_open, [&box](const QPointer<QMessageBox>& p) {
            return p.isNull() || p.data() == &box;
        });
        const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
        return chosen != buttons.end() ? static_cast<int>(chosen - buttons.begin()) : escapeIndex;
    }

    void Withdraw(int answer) override {
        while (!m_open.empty() && m_open.back().isNull()) {
            m_open.pop_back();
        }
        if (m_open.empty()) {
            return;
        }
        QMessageBox* box = m_open.back();
        // done() with the standard button makes exec() return it, as a click would.
        box->done(ButtonOf(answer));
    }

private:
    std::vector<QPointer<QMessageBox>> m_open;
};

BoxPresenter& DefaultPresenter() {
    static BoxPresenter presenter;
    return presenter;
}

IMessagePresenter* g_presenter = nullptr;  // null: the default presenter
QPointer<QWidget> g_mainWindow;

IMessagePresenter& Presenter() {
    return g_presenter != nullptr ? *g_presenter : DefaultPresenter();
}

// Cut at `limit` characters without splitting a surrogate pair.
QString CutText(const QString& text, qsizetype limit) {
    if (text.size() <= limit) {
        return text;
    }
    qsizetype end = limit;
    if (text.at(end - 1).isHighSurrogate()) {
        --end;
    }
    return text.left(end);
}

QString MidiErrorMessage(const std::string& serviceText) {
    const QString text = CutText(QString::fromUtf8(serviceText), kMidiTextLimit);
    // A service without a text for the code would otherwise show an empty box.
    return text.isEmpty() ? LoadString(StringId::UnknownError) : text;
}

}  // namespace

IMessagePresenter* SetMessagePresenter(IMessagePresenter* presenter) {
    IMessagePresenter* previous = g_presenter;
    g_presenter = presenter;
    return previous;
}

void SetMainWindow(QWidget* window) {
    g_mainWindow = window;
}

QWidget* MainWindow() {
    return g_mainWindow.data();
}

QString FormatText(const QString& format, std::initializer_list<QString> args) {
    QString out;
    out.reserve(format.size() + 64);
    auto next = args.begin();
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'%' && i + 1 < format.size()) {
            const QChar d = format.at(i + 1);
            if (d == u's') {
                if (next != args.end()) {
                    out += *next++;
                }
                ++i;
                continue;
            }
            if (d == u'%') {
                out += u'%';
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString PlainTip(const QString& text) {
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

int ShowMessage(const QString& text, unsigned style) {
    return Presenter().Show(text, style);
}

int ShowMessage(StringId id, unsigned style) {
    return ShowMessage(LoadString(id), style);
}

int ShowChoice(const QString& text, unsigned style, const QStringList& answers, int defaultIndex,
               int escapeIndex) {
    return Presenter().Choose(text, style, answers, defaultIndex, escapeIndex);
}

void WithdrawMessage(int answer) {
    Presenter().Withdraw(answer);
}

void ReportError(StringId context, HRESULT code) {
    QString detail = QString::fromStdString(ResultText(code));
    if (detail.isEmpty()) {
        detail = LoadString(StringId::UnknownError);
    }
    ShowMessage(FormatText(LoadString(StringId::ErrorFormat), {LoadString(context), detail}),
                MB_ICONERROR);
}

void ReportMidiInError(midi::IMidiServices& services, midi::MidiResult code) {
    ShowMessage(MidiErrorMessage(services.InGetErrorText(code)), MB_ICONERROR);
}

void ReportMidiOutError(midi::IMidiServices& services, midi::MidiResult code) {
    ShowMessage(MidiErrorMessage(services.OutGetErrorText(code)), MB_ICONERROR);
}

}  // namespace bq
